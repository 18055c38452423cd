// The host's threads on Windows: a slim reader/writer lock taken exclusively (KERNEL32).
// SRWLOCK_INIT is a constant, so nothing has to run in DllMain to set it up.
#include "host_thread.h"

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

} // namespace lcd
