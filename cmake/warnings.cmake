# Warnings are errors on the project's own code.
function(lcd_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wcast-align -Wold-style-cast -Wnull-dereference -Werror)
endfunction()
