// The port as the driver keeps it: opened by the host's name with the controller's
// initialisation first, given up when a transmission does not go out whole, opened again by
// the frame calls, and closed with a sign-off when the driver is unloaded.
//
// The retry rule. While no port is held and one was named, a frame call tries to open it once
// an attempt is due (with the resync byte ahead of the initialisation when the stream before
// was cut), and otherwise returns at once. A call that gives the port up or fails to get it
// makes the next attempt due a wait after the call ends (call_ended), when the keeper knows
// what the call cost:
// - PORT_MISSING_RETRY_MS after an open that found no port (OPEN_FAILED): an adapter plugged
//   in again draws within a frame or two, and looking for a missing device costs nothing;
// - PORT_RETRY_INTERVAL_MS after a port that opened but refused its settings or its
//   initialisation, and after a write that failed or was cut: each open may toggle the modem
//   lines, and a dead or stalled line costs the host at most one bounded write or open a
//   second, about half of its time at the very worst.
// A set-up call never waits: it opens at once when no port is held, or when the one held has
// gone (port_setup.h).
#pragma once

#include "driver_state.h"

#include <cstdint>

namespace lcd {

// A little under a host's redraw every 100 ms, so that such a host tries at every draw even on
// a clock that ticks every 16 ms (Windows' tick count).
inline constexpr std::uint64_t PORT_MISSING_RETRY_MS = 80;
inline constexpr std::uint64_t PORT_RETRY_INTERVAL_MS = WRITE_TIMEOUT_MS;

// The set-up's answer for a port that opened but did not take the initialisation whole (it
// was closed again); 0 to 3 are the open's OpenStatus.
inline constexpr std::uint32_t INIT_NOT_SENT = 4;

// How bringing the port up ended: OPEN_OK, the open's failure or INIT_NOT_SENT, with the OS
// error of the call that failed (0 when it had none).
struct SetUpResult {
    std::uint32_t status;
    std::uint32_t os_error;
};

// Keeps `port_name` as the name the port is opened by; false (nothing kept) when it is null
// or does not fit.
bool keep_port_name(DriverState &state, const char *port_name);

// Opens the kept name and sends the initialisation. A failure leaves no port held and the
// fault kept, and asks for the wait the retry rule gives it.
SetUpResult bring_port_up(DriverState &state);

// Whether a port is held, after an attempt to get it back when none is held, one was named and
// the attempt is due at `now_ms`. Otherwise returns at once.
bool port_ready(DriverState &state, std::uint64_t now_ms);

// Closes a port that was lost (a transmission that did not go out whole, its device gone) at
// once: what the device still held is thrown away, so the stream counts as cut and no quadrant
// as drawn.
void close_lost_port(DriverState &state);

// Writes the assembled transmission in one write. One that does not go out whole closes the
// port (close_lost_port) and keeps the fault.
WriteResult transmit(DriverState &state);

// The entry point's call ended at `ended_ms`: sets when the next attempt is due, if the call
// gave the port up or failed to get it.
void call_ended(DriverState &state, std::uint64_t ended_ms);

// The unload's sign-off: tells the controller the driver is going, when the stream is whole
// and a port is held, and closes the port, so a driver loaded again in the same process can
// open it. A sign-off the port does not take within SIGN_OFF_TIMEOUT_MS is thrown away with
// the port.
void close_port_at_unload(DriverState &state);

// How long the sign-off may wait for the port. Its 5 bytes take 17 us of line time, so this
// carries it on any line that moves, while a line that stopped costs the unload (on Windows
// under the loader lock) no more than this.
inline constexpr std::uint32_t SIGN_OFF_TIMEOUT_MS = 20;

} // namespace lcd
