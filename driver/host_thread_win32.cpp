#include "host_thread.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace lcd {

void set_thread_error(std::uint32_t error) {
    SetLastError(error);
}

std::uint32_t no_os_error(bool write_cut) {
    return write_cut ? ERROR_TIMEOUT : ERROR_NOT_READY;
}

} // namespace lcd
