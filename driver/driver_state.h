// All of the driver's state, module-wide, living from load to unload.
#pragma once

#include "link/serial_link.h"
#include "protocol/frame_encoder.h"
#include "protocol/transmit_buffer.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace lcd {

// How long the frame calls wait between attempts to get a lost port back: the write bound
// (WRITE_TIMEOUT_MS) again. A line that is dead or stalled then costs the host at most one
// bounded write or one open attempt a second, about half of its time at the very worst, and an
// adapter plugged back in draws again within about a second of its return.
inline constexpr std::uint64_t PORT_RETRY_INTERVAL_MS = WRITE_TIMEOUT_MS;

// Room for the host's port name, kept to open the port again by it: Windows' MAX_PATH, the
// longest name CreateFileA takes.
inline constexpr std::size_t PORT_NAME_CAPACITY = 260;

// The last fault of the port: the write that lost it or the open that did not get it back.
struct PortFault {
    std::uint32_t os_error = 0; // GetLastError() / errno of the call that failed, 0 for none
    bool write_cut = false;     // a write cut at its bound (there is no OS error then)
};

struct DriverState {
    TransmitBuffer tx;
    PendingSetting setting;
    // NO_QUADRANT until a frame has gone out whole on the port held now, so the first frame
    // after every open is sent whatever its quadrant.
    std::int32_t last_quadrant = NO_QUADRANT;
    // A port has opened (by a set-up call or a frame call): later set-up calls only record
    // settings, unless no port is held and they name one.
    bool port_initialised = false;
    Link link;
    // The host's port name, empty until a set-up call names one; the port is opened again by
    // it after a fault.
    std::array<char, PORT_NAME_CAPACITY> port_name{};
    // The last transmission did not go out whole: the controller may be inside a command.
    bool stream_cut = false;
    // While no port is held, the frame calls try to open it no earlier than this (on the
    // entry points' clock, milliseconds).
    std::uint64_t next_open_ms = 0;
    // The current call gave the port up or failed to open it: the next attempt counts from the
    // call's end (call_ended), which only the entry points' clock knows.
    bool retry_from_call_end = false;
    // Why no port is held, for the host's last error: the last fault.
    PortFault fault;
};

// The one module-wide instance the exported operations work on.
DriverState &module_state();

} // namespace lcd
