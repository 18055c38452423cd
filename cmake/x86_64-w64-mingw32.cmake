# Cross toolchain for the 64-bit Windows build (Debian's g++-mingw-w64-x86-64): the same
# sources as the 32-bit driver, for 64-bit hosts and for 64-bit Wine, which runs on every
# x86_64 Linux kernel, where 32-bit Wine needs 32-bit program support or an emulator.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LCD_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
# SSE2 is part of x86_64 and its Windows ABI keeps the stack 16-byte aligned at every call:
# nothing to add for the encoder's vector path.
