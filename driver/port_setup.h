// The work behind LCD_SetIOPropertys, over an explicit DriverState so tests can drive it
// without the module-wide instance.
#pragma once

#include "port_keeper.h"

#include <cstdint>

namespace lcd {

// Until a port has ever opened, and whenever `port_name` names one while none is held or the
// one held has gone: keeps `port_name`, opens it now and sends the initialisation (a failed
// open leaves the name for the frame calls to try again, port_keeper.h). A port held that
// works stays the port. Then records a setting when asked (see driver_api.h). Returns how
// bringing the port up ended, or OPEN_OK when the call only recorded.
SetUpResult set_io_properties(DriverState &state, const char *port_name,
                              std::uint32_t apply_setting, std::uint32_t setting);

} // namespace lcd
