#include "port_keeper.h"

#include "protocol/protocol.h"

#include <cstring>

namespace lcd {

bool keep_port_name(DriverState &state, const char *port_name) {
    state.port_name[0] = '\0';
    if (port_name == nullptr)
        return false;
    const std::size_t length = strnlen(port_name, PORT_NAME_CAPACITY);
    if (length == PORT_NAME_CAPACITY)
        return false;
    std::memcpy(state.port_name.data(), port_name, length + 1);
    return true;
}

OpenStatus open_and_initialise(DriverState &state) {
    const OpenStatus opened = open_port(state.port_handle, state.port_name.data(), LINK_BAUD_RATE);
    if (opened != OPEN_OK) {
        state.next_open_ms = state.clock() + PORT_RETRY_INTERVAL_MS;
        return opened;
    }
    // A port is up, however it came: a later set-up call records its setting only, even when
    // the first one failed and a frame call opened the port.
    state.port_initialised = true;
    // The controller may have been reset or replaced while the port was away: nothing on it
    // counts as drawn.
    state.last_quadrant = NO_QUADRANT;
    reset(state.tx);
    if (state.stream_cut)
        append_raw(state.tx, RESYNC_BYTE);
    append_raw(state.tx, INIT_SEQUENCE);
    transmit(state);
    return OPEN_OK;
}

bool port_ready(DriverState &state) {
    if (state.port_handle != NO_PORT)
        return true;
    if (state.port_name[0] == '\0' || state.clock() < state.next_open_ms)
        return false;
    open_and_initialise(state);
    return state.port_handle != NO_PORT;
}

WriteStatus transmit(DriverState &state) {
    const WriteStatus written =
        write_bytes(state.port_handle, state.tx.bytes.data(), state.tx.count);
    if (written == WRITE_OK) {
        state.stream_cut = false;
    } else if (written != WRITE_NO_PORT) {
        drop_port(state.port_handle);
        state.stream_cut = true;
        state.last_quadrant = NO_QUADRANT;
        state.next_open_ms = state.clock() + PORT_RETRY_INTERVAL_MS;
    }
    return written;
}

} // namespace lcd
