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

OpenResult open_and_initialise(DriverState &state, OpenCause cause, std::uint64_t now_ms) {
    const OpenResult opened = open_port(state.link, state.port_name.data(), LINK_BAUD_RATE, cause);
    if (opened.status != OPEN_OK) {
        state.fault = {opened.os_error, false};
        state.next_open_ms = now_ms + PORT_RETRY_INTERVAL_MS;
        state.retry_from_call_end = true;
        return opened;
    }
    state.fault = {};
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
    // An initialisation that did not go out whole let the port go: the port is not up.
    const WriteResult initialised = transmit(state, now_ms);
    if (initialised.status != WRITE_OK)
        return {INIT_NOT_SENT, initialised.os_error};
    return opened;
}

bool port_ready(DriverState &state, std::uint64_t now_ms) {
    if (port_held(state.link))
        return true;
    if (state.port_name[0] == '\0' || now_ms < state.next_open_ms)
        return false;
    open_and_initialise(state, OpenCause::RETRY, now_ms);
    return port_held(state.link);
}

WriteResult transmit(DriverState &state, std::uint64_t now_ms) {
    const WriteResult written =
        write_bytes(state.link, state.tx.bytes.data(), state.tx.count, WRITE_TIMEOUT_MS);
    if (written.status == WRITE_OK) {
        state.stream_cut = false;
    } else if (written.status != WRITE_NO_PORT) {
        drop_port(state.link);
        state.stream_cut = true;
        state.last_quadrant = NO_QUADRANT;
        state.fault = {written.os_error, written.status == WRITE_SHORT};
        state.next_open_ms = now_ms + PORT_RETRY_INTERVAL_MS;
        state.retry_from_call_end = true;
    }
    return written;
}

void call_ended(DriverState &state, std::uint64_t ended_ms) {
    if (!state.retry_from_call_end)
        return;
    state.retry_from_call_end = false;
    if (ended_ms + PORT_RETRY_INTERVAL_MS > state.next_open_ms)
        state.next_open_ms = ended_ms + PORT_RETRY_INTERVAL_MS;
}

} // namespace lcd
