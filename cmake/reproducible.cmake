# The same commit builds to the same bytes, whichever directory it is built in and whenever.
#
# Source and build paths are written into the objects as fixed names (assertions, debug
# information). The build tree's map is given last: it usually lies inside the source tree, and
# GCC tries the last map given first.
add_compile_options(
  -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=/usr/src/lcd_driver/
  -ffile-prefix-map=${PROJECT_BINARY_DIR}/=/usr/src/lcd_driver/build/)
if(WIN32)
  # The PE header and the export directory carry the link time unless told not to.
  add_link_options(-Wl,--no-insert-timestamp)
endif()

if(WIN32)
  # A release DLL carries no symbols or debug sections (only the MinGW runtime's would be there).
  add_link_options($<$<CONFIG:Release>:-s>)
endif()

# The time written into generated files (man pages; CPack reads the environment itself):
# SOURCE_DATE_EPOCH when set, else the time of the commit being built.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(LCD_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE LCD_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
  if(NOT LCD_SOURCE_DATE_EPOCH)
    set(LCD_SOURCE_DATE_EPOCH 0)
  endif()
endif()
