// Linux load and unload, the counterpart of DllMain's unload: when the library is unloaded
// (dlclose, or the process ending) the controller gets its sign-off and the port is let go,
// so a host that loads the library again in the same process can open the port. In a forked
// child the port is the parent's: the child closes its copy of the descriptor and nothing else.
#include "port_setup.h"

namespace {

__attribute__((destructor)) void unload_driver() {
    lcd::DriverState &state = lcd::module_state();
    if (lcd::port_opened_here(state.port_handle))
        lcd::shutdown_port(state);
    else
        lcd::close_port(state.port_handle);
}

} // namespace
