# Cross toolchain for the 32-bit Windows driver (Debian's g++-mingw-w64-i686).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(LCD_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

# Every x86 CPU that runs 32-bit Windows today has SSE2. Windows only promises a 4-byte aligned
# stack to a DLL's entry points, so functions realign it where SSE locals need 16. Compile
# options, not CMAKE_CXX_FLAGS_INIT, so a CMAKE_CXX_FLAGS of the user's own cannot drop them
# (and with them the encoder's vector path).
add_compile_options(-msse2 -mstackrealign)
