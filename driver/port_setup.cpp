#include "port_setup.h"

#include "port_keeper.h"
#include "protocol/protocol.h"

namespace lcd {

OpenStatus set_io_properties(DriverState &state, const char *port_name, std::uint32_t apply_setting,
                             std::uint32_t setting) {
    OpenStatus opened = OPEN_OK;
    port_set_up_again();
    if (!state.port_initialised) {
        opened = keep_port_name(state, port_name) ? open_and_initialise(state) : OPEN_FAILED;
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
    if (state.port_handle != NO_PORT) {
        reset(state.tx);
        append_raw(state.tx, SHUTDOWN_SEQUENCE);
        write_bytes(state.port_handle, state.tx.bytes.data(), state.tx.count);
    }
    close_port(state.port_handle);
}

DriverState &module_state() {
    static constinit DriverState state{};
    return state;
}

} // namespace lcd
