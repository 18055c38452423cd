// lcdtest's words on Linux: its driver library, serial devices and their group. Plain text, so
// the tests check it on any platform.
#include "platform.h"

namespace lcd::tool {

const PlatformWords PLATFORM = {
    "lcdtest",
    "liblcd_driver.so",
    "./",
    "PORT is a serial device such as\n/dev/ttyUSB0, or the terminal lcdsim --pty prints.",
    "  --driver PATH    the driver library (default: liblcd_driver.so next to\n"
    "                   lcdtest, or for an installed lcdtest the library directory\n"
    "                   beside its own); a bare file name is looked for in the\n"
    "                   current directory first",
    "  lcdtest /dev/ttyUSB0               the test pattern on that port's panel\n"
    "  lcdtest /dev/ttyUSB0 picture.png   a 640x480 picture\n"
    "  lcdtest /dev/pts/3                 the panel lcdsim --pty simulates there\n",
    "(it holds the port's lock)",
    "\n(On Debian, serial ports belong to the group 'dialout': sudo adduser $USER dialout,\n"
    "then log in again.)",
};

} // namespace lcd::tool
