// What the system says about a port, in words. The driver leaves the OS error behind a failed
// call in the thread's last error (GetLastError() on Windows, errno on Linux); lcdtest reads
// it right after the call and turns it into a reason here, without opening the port itself.
// One implementation per platform: port_check_posix.cpp, port_check_win32.cpp.
#pragma once

#include <string>

namespace lcd::tool {

// The calling thread's last error, and setting it to 0 before a call.
unsigned long last_os_error();
void clear_last_os_error();

// What an OS error means for the port, as far as lcdtest has words for it.
enum class PortFault {
    NONE,          // 0: no OS error behind the failure
    NO_SUCH_PORT,  // the name opens nothing
    IN_USE,        // another program holds the port
    NO_PERMISSION, // the user may not open it
    NOT_A_PORT,    // it opened, but takes no serial line settings
    TIMED_OUT,     // the line did not take the bytes within the driver's write bound
    // The preview driver's set-up (link/preview_viewer.h): its viewer is not beside it, ended
    // at once on options it refused, or found no desktop for its window. Windows only.
    VIEWER_MISSING,
    VIEWER_REFUSED,
    NO_DESKTOP,
    OTHER,
};
PortFault port_fault(unsigned long error);

// True when `port` is this process's own controlling terminal (lcdtest would write its frames
// into the terminal it is typed in). Always false on Windows.
bool is_own_terminal(const std::string &port);

} // namespace lcd::tool
