// lcdtest.exe's words on Windows: its DLL and COM ports. Plain text, so the tests check it on
// any platform.
#include "platform.h"

namespace lcd::tool {

const PlatformWords PLATFORM = {
    "lcdtest.exe",
    "lcd_driver.dll",
    ".\\",
    "PORT is a COM port:\nCOM3, COM12 or \\\\.\\COM12.",
    "  --driver PATH    the driver DLL (default: lcd_driver.dll in lcdtest.exe's\n"
    "                   folder); a bare file name is looked for in the current\n"
    "                   folder first",
    "  lcdtest.exe COM3                   the test pattern on that port's panel\n"
    "  lcdtest.exe COM3 picture.png       a 640x480 picture\n",
    "(Windows lets one program at a time open a port)",
    "",
};

} // namespace lcd::tool
