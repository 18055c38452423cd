// lcdsim.exe's help on Windows: its inputs (COM ports, named pipes, files, stdin) and its
// line options. Plain text, so the tests check it on any platform.
#include "platform.h"

namespace lcd::sim {

const char *const COMMAND = "lcdsim.exe";

const char *const USAGE_INPUTS = R"(usage: lcdsim.exe [options] INPUT
       lcdsim.exe --compare A.png B.png

The controller, simulated: decodes the driver's byte stream (line records,
settings, finishes) onto a 640x480 panel and reports what it saw.

INPUT is a COM port (COM7: the far end of a virtual null-modem pair whose
other end the host uses, or a port wired to the controller's line), a named
pipe (\\.\pipe\NAME: lcdsim.exe creates it, a program writes to it), a
capture file, or - for stdin. --compare compares two panel pictures pixel by
pixel.
)";

const char *const USAGE_LINE_OPTIONS =
    R"(  --idle-exit SECS  stop when nothing arrives for SECS seconds (default 30 for
                    COM ports and pipes without --window; files and stdin end
                    at their end)
)";

} // namespace lcd::sim
