// The driver's lock, its clock and the calling thread's last error: what the exported
// operations need of the system on the host's threads.
//
// A host may call the frame call and the set-up from two threads (a timer thread drawing while
// the UI thread sets the port up again); the driver has one state, one transmit buffer and one
// port, so those calls and the unload's sign-off take turns under one lock. The lock is a
// constant, set up by nothing at load time, and costs a few nanoseconds when nobody else holds
// it. The last error is GetLastError() on Windows (lock_clock_error_win32.cpp), errno on Linux
// (lock_clock_error_posix.cpp).
#pragma once

#include <cstdint>

namespace lcd {

// Holds the driver's lock for its lifetime; a call that finds it held waits, at most as long
// as the holder's one bounded write or open.
class DriverLock {
  public:
    DriverLock();
    ~DriverLock();
    DriverLock(const DriverLock &) = delete;
    DriverLock &operator=(const DriverLock &) = delete;
};

// The driver's clock: milliseconds from a fixed point, never going back (GetTickCount64 on
// Windows, CLOCK_MONOTONIC on Linux). The retries of a lost port are timed on it.
std::uint64_t now_ms();

// Sets the calling thread's last error; the entry points' last step.
void set_thread_error(std::uint32_t error);

// The last error for a fault without an OS error: a write cut at its bound (ERROR_TIMEOUT /
// ETIMEDOUT), or no port held for no known reason (ERROR_NOT_READY / ENODEV).
std::uint32_t no_os_error(bool write_cut);

} // namespace lcd
