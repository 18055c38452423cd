#include "host_thread.h"

#include <cerrno>

namespace lcd {

void set_thread_error(std::uint32_t error) {
    errno = static_cast<int>(error);
}

std::uint32_t no_os_error(bool write_cut) {
    return static_cast<std::uint32_t>(write_cut ? ETIMEDOUT : ENODEV);
}

} // namespace lcd
