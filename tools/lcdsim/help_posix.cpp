// lcdsim's help on Linux: its inputs (files, stdin, serial devices, --pty) and its
// line options. Plain text, so the tests check it on any platform.
#include "platform.h"

namespace lcd::sim {

const char *const COMMAND = "lcdsim";

const char *const USAGE_INPUTS = R"(usage: lcdsim [options] INPUT
       lcdsim [options] --pty
       lcdsim --compare A.png B.png

The controller, simulated: decodes the driver's byte stream (line records,
settings, finishes) onto a 640x480 panel and reports what it saw.

INPUT is a capture file, - for stdin, or a serial device (/dev/ttyUSB0) wired
to the controller's line. --pty creates a pseudo-terminal, prints its path and
reads what the driver writes there (liblcd_driver.so, or a COM port that Wine
maps to it). --compare compares two panel pictures pixel by pixel.
)";

const char *const USAGE_LINE_OPTIONS =
    R"(  --idle-exit SECS  stop when nothing arrives for SECS seconds (default 30 for
                    --pty and serial devices without --window; files and stdin
                    end at their end)
  --pty-file PATH   with --pty: also write the terminal's path to PATH
)";

} // namespace lcd::sim
