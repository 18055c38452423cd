// All of the driver's state, module-wide, living from load to unload.
#pragma once

#include "link/serial_link.h"
#include "protocol/frame_encoder.h"
#include "protocol/transmit_buffer.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace lcd {

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
    // A port has ever opened (by a set-up call or a frame call); never cleared. From then on a
    // set-up call opens a port only when none is held, or the one held has gone, and it names one.
    bool port_initialised = false;
    Link link;
    // The host's port name, empty until a set-up call names one; the port is opened again by
    // it after a fault.
    std::array<char, PORT_NAME_CAPACITY> port_name{};
    // The last transmission did not go out whole: the controller may be inside a command.
    bool stream_cut = false;
    // When the frame calls may next try to get the port back, and what the current call's
    // failure asks for: the retry rule is the keeper's (port_keeper.h).
    std::uint64_t next_open_ms = 0;
    std::uint64_t retry_wait_ms = 0;
    // Why no port is held, for the host's last error: the last fault.
    PortFault fault;
};

// The one module-wide instance the exported operations work on (entry_points.cpp).
DriverState &module_state();

} // namespace lcd
