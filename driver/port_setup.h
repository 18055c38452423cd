// The work behind LCD_SetIOPropertys and the driver's unload, over an explicit DriverState so
// tests can drive it without the module-wide instance.
#pragma once

#include "protocol/driver_state.h"

#include <cstdint>

namespace lcd {

// Opens and initialises the port once, then records a setting when asked (see driver_api.h).
OpenStatus set_io_properties(DriverState &state, const char *port_name, std::uint32_t apply_setting,
                             std::uint32_t setting);

// Tells the controller the driver is going and lets go of the port, so a driver loaded again
// in the same process can open it.
void shutdown_port(DriverState &state);

// The one module-wide instance the exported operations work on.
DriverState &module_state();

} // namespace lcd
