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

SetUpResult bring_port_up(DriverState &state) {
    const OpenResult opened = open_port(state.link, state.port_name.data(), LINK_BAUD_RATE);
    if (opened.status != OPEN_OK) {
        state.fault = {opened.os_error, false};
        state.retry_wait_ms =
            opened.status == OPEN_FAILED ? PORT_MISSING_RETRY_MS : PORT_RETRY_INTERVAL_MS;
        return {opened.status, opened.os_error};
    }
    state.fault = {};
    state.port_initialised = true;
    // The controller may have been reset or replaced while the port was away: nothing on it
    // counts as drawn.
    state.last_quadrant = NO_QUADRANT;
    reset(state.tx);
    if (state.stream_cut)
        append_raw(state.tx, RESYNC_BYTE);
    append_raw(state.tx, INIT_SEQUENCE);
    // An initialisation that did not go out whole let the port go: the port is not up.
    const WriteResult initialised = transmit(state);
    if (initialised.status != WRITE_OK)
        return {INIT_NOT_SENT, initialised.os_error};
    return {OPEN_OK, 0};
}

bool port_ready(DriverState &state, std::uint64_t now_ms) {
    if (port_held(state.link))
        return true;
    if (state.port_name[0] == '\0' || now_ms < state.next_open_ms)
        return false;
    bring_port_up(state);
    return port_held(state.link);
}

void close_lost_port(DriverState &state) {
    close_port_at_once(state.link);
    state.stream_cut = true;
    state.last_quadrant = NO_QUADRANT;
}

WriteResult transmit(DriverState &state) {
    const WriteResult written =
        write_bytes(state.link, state.tx.bytes.data(), state.tx.count, WRITE_TIMEOUT_MS);
    if (written.status == WRITE_OK) {
        state.stream_cut = false;
    } else if (written.status != WRITE_NO_PORT) {
        close_lost_port(state);
        state.fault = {written.os_error, written.status == WRITE_SHORT};
        state.retry_wait_ms = PORT_RETRY_INTERVAL_MS;
    }
    return written;
}

void call_ended(DriverState &state, std::uint64_t ended_ms) {
    if (state.retry_wait_ms == 0)
        return;
    state.next_open_ms = ended_ms + state.retry_wait_ms;
    state.retry_wait_ms = 0;
}

void close_port_at_unload(DriverState &state) {
    // After a cut stream the controller may be inside a command: it gets nothing more.
    if (!state.stream_cut && port_held(state.link)) {
        reset(state.tx);
        append_raw(state.tx, SHUTDOWN_SEQUENCE);
        const WriteResult written =
            write_bytes(state.link, state.tx.bytes.data(), state.tx.count, SIGN_OFF_TIMEOUT_MS);
        if (written.status != WRITE_OK) {
            close_port_at_once(state.link);
            return;
        }
    }
    close_port(state.link);
}

} // namespace lcd
