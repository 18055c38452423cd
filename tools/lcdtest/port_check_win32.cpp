#include "port_check.h"
#include "utf8_win32.h"

#include "link/preview_viewer.h"

namespace lcd::tool {

unsigned long last_os_error() {
    return GetLastError();
}

void clear_last_os_error() {
    SetLastError(0);
}

PortFault port_fault(unsigned long error) {
    switch (error) {
    case ERROR_SUCCESS:
        return PortFault::NONE;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return PortFault::NO_SUCH_PORT;
    // Windows lets one program at a time open a port; the second is denied access.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return PortFault::IN_USE;
    // What the comm calls give for a handle that is no serial port (a file, NUL, a pipe).
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_SUPPORTED:
        return PortFault::NOT_A_PORT;
    case ERROR_TIMEOUT:
    case ERROR_SEM_TIMEOUT:
        return PortFault::TIMED_OUT;
    case PREVIEW_VIEWER_MISSING:
        return PortFault::VIEWER_MISSING;
    case PREVIEW_VIEWER_REFUSED:
        return PortFault::VIEWER_REFUSED;
    case PREVIEW_NO_DESKTOP:
        return PortFault::NO_DESKTOP;
    default:
        return PortFault::OTHER;
    }
}

bool is_own_terminal(const std::string &) {
    return false;
}

} // namespace lcd::tool
