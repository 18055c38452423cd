#include "port_setup.h"

#include "port_keeper.h"
#include "protocol/protocol.h"

#include <cstring>

namespace lcd {
namespace {

// A name other than the one kept, that fits. While no port is held that is the host's choice
// of another port: the adapter may have come back under another name.
bool names_another_port(const DriverState &state, const char *port_name) {
    return port_name != nullptr && strnlen(port_name, PORT_NAME_CAPACITY) < PORT_NAME_CAPACITY &&
           std::strcmp(port_name, state.port_name.data()) != 0;
}

} // namespace

OpenResult set_io_properties(DriverState &state, const char *port_name, std::uint32_t apply_setting,
                             std::uint32_t setting, std::uint64_t now_ms) {
    OpenResult opened{OPEN_OK, 0};
    // Until a port has opened, and while none is held for a name other than the kept one, the
    // call is a first set-up. A port held stays the port, whatever later calls name.
    if (!state.port_initialised ||
        (!port_held(state.link) && names_another_port(state, port_name))) {
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
