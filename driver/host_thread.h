// What the host reads after a call: the calling thread's last error, GetLastError() on
// Windows (host_thread_win32.cpp), errno on Linux (host_thread_posix.cpp).
#pragma once

#include <cstdint>

namespace lcd {

// Sets the calling thread's last error; the entry points' last step.
void set_thread_error(std::uint32_t error);

// The last error for a fault without an OS error: a write cut at its bound (ERROR_TIMEOUT /
// ETIMEDOUT), or no port held for no known reason (ERROR_NOT_READY / ENODEV).
std::uint32_t no_os_error(bool write_cut);

} // namespace lcd
