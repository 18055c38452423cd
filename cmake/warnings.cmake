# Warnings are errors on the project's own code.
function(lcd_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wcast-align -Wold-style-cast -Wnull-dereference -Werror)
  if(WIN32)
    # The driver runs inside the host's process: no exceptions or RTTI to drag in runtime code.
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  endif()
endfunction()
