#include "port_setup.h"

#include <cstring>

#ifdef LCD_PREVIEW
#include "link/preview_link.h"
#endif

namespace lcd {

SetUpResult set_io_properties(DriverState &state, const char *port_name,
                              std::uint32_t apply_setting, std::uint32_t setting) {
    SetUpResult result{OPEN_OK, 0};
    // A call naming a port while none is held is a first set-up: it takes that name and opens
    // it at once. The adapter may have come back under another name, or the host may be
    // bringing back the one it had (the preview's window, closed by the user). So is a call
    // naming a port while the held one's device has gone, whether a frame call noticed or not.
    // A port held that works stays the port, whatever later calls name; a call without a
    // usable name then keeps the name there is.
    const bool names_a_port =
        port_name != nullptr && strnlen(port_name, PORT_NAME_CAPACITY) < PORT_NAME_CAPACITY;
    if (names_a_port && port_gone(state.link))
        close_lost_port(state);
    if (!port_held(state.link) && (!state.port_initialised || names_a_port)) {
        if (keep_port_name(state, port_name)) {
#ifdef LCD_PREVIEW
            let_next_open_start_viewer(state.link);
#endif
            result = bring_port_up(state);
        } else {
            result = {OPEN_FAILED, 0}; // no name to open: no OS call failed
            state.fault = {};
        }
    }
    // Recorded even when the open failed: the frame calls bring the port up by that name once
    // it appears, and the host may not call again.
    if ((apply_setting & 0xFFu) != 0) {
        state.setting.value = static_cast<std::uint8_t>(setting & 0xFFu);
        state.setting.pending = true;
    }
    return result;
}

} // namespace lcd
