#include "port_setup.h"

#include "port_keeper.h"
#include "protocol/protocol.h"

namespace lcd {

OpenStatus set_io_properties(DriverState &state, const char *port_name, std::uint32_t apply_setting,
                             std::uint32_t setting, std::uint64_t now_ms) {
    OpenStatus opened = OPEN_OK;
    if (!state.port_initialised) {
        opened = keep_port_name(state, port_name)
                     ? open_and_initialise(state, OpenCause::SET_UP, now_ms)
                     : OPEN_FAILED;
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
