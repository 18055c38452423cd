// What the exported operations do for the host's threads. A host may call the frame call and
// the set-up from two threads (a timer thread drawing while the UI thread sets the port up
// again); the driver has one state, one transmit buffer and one port, so those calls and the
// unload's sign-off take turns under one lock. The lock is a constant, set up by nothing at
// load time, and costs a few nanoseconds when nobody else holds it.
#pragma once

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

} // namespace lcd
