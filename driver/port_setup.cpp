#include "port_setup.h"

#include "protocol/protocol.h"
#include "protocol/transmit_buffer.h"

namespace lcd {

OpenStatus set_io_properties(DriverState &state, const char *port_name, std::uint32_t apply_setting,
                             std::uint32_t setting) {
    OpenStatus opened = OPEN_OK;
    if (!state.port_initialised) {
        opened = open_port(state.port_handle, port_name, LINK_BAUD_RATE);
        if (opened != OPEN_OK)
            return opened; // nothing sent, nothing recorded; the next call tries again
        reset(state.tx);
        append_raw(state.tx, INIT_SEQUENCE);
        // A failed initialisation write is not retried: the controller is brought up once.
        transmit(state.tx, state.port_handle);
        state.port_initialised = true;
    }
    if ((apply_setting & 0xFFu) != 0) {
        state.setting.value = static_cast<std::uint8_t>(setting & 0xFFu);
        state.setting.pending = true;
    }
    return opened;
}

void shutdown_port(DriverState &state) {
    reset(state.tx);
    append_raw(state.tx, SHUTDOWN_SEQUENCE);
    transmit(state.tx, state.port_handle);
    close_port(state.port_handle);
}

DriverState &module_state() {
    static constinit DriverState state{};
    return state;
}

} // namespace lcd
