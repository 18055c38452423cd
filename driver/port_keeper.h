// The port as the driver keeps it: opened by the host's name with the controller's
// initialisation first, given up when a transmission does not go out whole, and opened again
// by the frame calls, at most once every PORT_RETRY_INTERVAL_MS.
#pragma once

#include "driver_state.h"

#include <cstdint>

namespace lcd {

// Keeps `port_name` as the name the port is opened by; false (nothing kept) when it is null
// or does not fit.
bool keep_port_name(DriverState &state, const char *port_name);

// Opens the kept name and sends the initialisation, with RESYNC_BYTE ahead of it when the
// stream before was cut. A failed open or initialisation leaves no port held, the fault kept
// and the next attempt due one interval after the call (call_ended; `now_ms` until then). Returns
// the open's status, or INIT_NOT_SENT when the port opened but the initialisation did not go out
// whole; with the OS error of the failed call.
OpenResult open_and_initialise(DriverState &state, OpenCause cause, std::uint64_t now_ms);

// Whether a port is held, after an attempt to open it again when none is held, one was named
// and the attempt is due at `now_ms`. Otherwise returns at once.
bool port_ready(DriverState &state, std::uint64_t now_ms);

// Writes the assembled transmission in one write. One that does not go out whole gives the
// port up at once (drop_port): the stream counts as cut, no quadrant as sent, the fault is
// kept, and the next open is due one interval after the call ends (call_ended).
WriteResult transmit(DriverState &state, std::uint64_t now_ms);

// The entry point's call ended at `ended_ms`. A port given up or not opened in it is tried
// again one interval from then, not from the call's start: a write cut at its bound took the
// whole bound, and a stalled line must leave the host most of its time; one that failed at
// once leaves the retry a second away, not two.
void call_ended(DriverState &state, std::uint64_t ended_ms);

} // namespace lcd
