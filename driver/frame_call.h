// The work behind LCD_SendToGfxMemory, over an explicit DriverState so tests can drive it
// without the module-wide instance.
#pragma once

#include "driver_state.h"

#include <cstdint>

namespace lcd {

// What became of a frame handed to send_frame.
enum FrameStatus : std::uint32_t {
    FRAME_SENT,          // gone out whole
    FRAME_NO_IMAGE,      // null image: nothing changed
    FRAME_NO_QUADRANT,   // all four markers set: nothing changed
    FRAME_SAME_QUADRANT, // quadrant sent last: nothing changed
    FRAME_NO_PORT,       // no port held, none opened: nothing sent
    FRAME_WRITE_SHORT,   // cut short: the port was given up
    FRAME_WRITE_FAILED,  // the write failed: the port was given up
};

// The frame's status, and for a frame that did not go out (FRAME_NO_PORT and the write
// failures) why: the fault of this call's failed write or open, or, when nothing was tried,
// the one that lost the port.
struct FrameResult {
    FrameStatus status;
    PortFault fault;
};

// The frame call: select the quadrant and skip it when it is the one sent last; otherwise get
// the port (opening it again when it was lost and an attempt is due), encode the records,
// append a pending setting and write the frame in one write. Only a frame that went out whole
// counts as sent; after any other outcome the host's next image for that quadrant goes out,
// and the setting it carried is pending again. `now_ms` is the driver's clock, in milliseconds.
FrameResult send_frame(DriverState &state, const std::uint8_t *pixels, std::uint64_t now_ms);

} // namespace lcd
