# What both MinGW-w64 cross toolchains share (Debian's g++-mingw-w64-*): the toolchain file of
# each build sets CMAKE_SYSTEM_PROCESSOR and LCD_MINGW_PREFIX, then includes this.
set(CMAKE_SYSTEM_NAME Windows)

# The POSIX threading flavour of the cross compiler is Debian's default; either works (the
# driver's clock and lock are KERNEL32's own).
find_program(CMAKE_CXX_COMPILER NAMES ${LCD_MINGW_PREFIX}-g++-posix ${LCD_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${LCD_MINGW_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${LCD_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
