// The work behind LCD_SetIOPropertys and the driver's unload, over an explicit DriverState so
// tests can drive it without the module-wide instance.
#pragma once

#include "driver_state.h"

#include <cstdint>

namespace lcd {

// Until a port has opened, and whenever none is held and `port_name` names one: keeps
// `port_name`, opens it now and sends the initialisation (a failed open leaves the name for the
// frame calls to try again). Then records a setting when asked
// (see driver_api.h). Returns the outcome of bringing the port up (open_and_initialise), or
// OPEN_OK when the call only recorded. `now_ms` is the driver's clock, in milliseconds.
OpenResult set_io_properties(DriverState &state, const char *port_name, std::uint32_t apply_setting,
                             std::uint32_t setting, std::uint64_t now_ms);

// How long the unload's sign-off may wait for the port. Its 5 bytes take 17 us of line time,
// so this carries it on any line that moves, while a line that stopped costs the unload (on
// Windows under the loader lock) no more than this.
inline constexpr std::uint32_t SIGN_OFF_TIMEOUT_MS = 20;

// Tells the controller the driver is going, when the stream is whole and a port is held, and
// lets go of the port, so a driver loaded again in the same process can open it. A sign-off
// the port does not take within SIGN_OFF_TIMEOUT_MS is thrown away with the port (drop_port).
void shutdown_port(DriverState &state);

} // namespace lcd
