#include "port_setup.h"

#include "port_keeper.h"
#include "protocol/protocol.h"

#include <cstring>

namespace lcd {
OpenResult set_io_properties(DriverState &state, const char *port_name, std::uint32_t apply_setting,
                             std::uint32_t setting, std::uint64_t now_ms) {
    OpenResult opened{OPEN_OK, 0};
    // Until a port has opened, and whenever none is held, a call naming a port is a first
    // set-up: it takes that name and opens it at once, the initialisation first. The adapter may
    // have come back under another name, or the host may be bringing back the one it had (the
    // preview's window, closed by the user). A port held stays the port, whatever later calls
    // name; a call without a usable name then keeps the name there is.
    const bool names_a_port =
        port_name != nullptr && strnlen(port_name, PORT_NAME_CAPACITY) < PORT_NAME_CAPACITY;
    if (!port_held(state.link) && (!state.port_initialised || names_a_port)) {
        if (keep_port_name(state, port_name)) {
            opened = open_and_initialise(state, OpenCause::SET_UP, now_ms);
        } else {
            opened = {OPEN_FAILED, 0}; // no name to open: no OS call failed
            state.fault = {};
        }
    }
    // Recorded even when the open failed: the frame calls bring the port up by that name once
    // it appears, and the host may not call again.
    if ((apply_setting & 0xFFu) != 0) {
        state.setting.value = static_cast<std::uint8_t>(setting & 0xFFu);
        state.setting.pending = true;
    }
    return opened;
}

void shutdown_port(DriverState &state) {
    // After a cut stream the controller may be inside a command: it gets nothing more.
    if (!state.stream_cut && port_held(state.link)) {
        reset(state.tx);
        append_raw(state.tx, SHUTDOWN_SEQUENCE);
        const WriteResult written =
            write_bytes(state.link, state.tx.bytes.data(), state.tx.count, SIGN_OFF_TIMEOUT_MS);
        if (written.status != WRITE_OK) {
            drop_port(state.link);
            return;
        }
    }
    close_port(state.link);
}

DriverState &module_state() {
    static constinit DriverState state{};
    return state;
}

} // namespace lcd
