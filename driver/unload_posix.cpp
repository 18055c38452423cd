// Linux load and unload, the counterpart of DllMain's unload: when the library is unloaded
// (dlclose, or the process ending) the controller gets its sign-off and the port is closed,
// so a host that loads the library again in the same process can open the port. (In a forked
// child the port is the parent's: the link neither writes to it nor lets go of its lock.)
#include "lock_clock_error.h"
#include "port_keeper.h"

namespace {

__attribute__((destructor)) void unload_driver() {
    const lcd::DriverLock lock;
    lcd::close_port_at_unload(lcd::module_state());
}

} // namespace
