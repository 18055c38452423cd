// Lock, clock and last error on Windows: a slim reader/writer lock taken exclusively, the
// tick count, and the thread's last error (KERNEL32). SRWLOCK_INIT is a constant, so nothing
// has to run in DllMain to set the lock up.
#include "lock_clock_error.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace lcd {
namespace {

SRWLOCK driver_lock = SRWLOCK_INIT;

} // namespace

DriverLock::DriverLock() {
    AcquireSRWLockExclusive(&driver_lock);
}

DriverLock::~DriverLock() {
    ReleaseSRWLockExclusive(&driver_lock);
}

std::uint64_t now_ms() {
    return GetTickCount64();
}

void set_thread_error(std::uint32_t error) {
    SetLastError(error);
}

std::uint32_t no_os_error(bool write_cut) {
    return write_cut ? ERROR_TIMEOUT : ERROR_NOT_READY;
}

} // namespace lcd
