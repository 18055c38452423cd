// The work behind LCD_SendToGfxMemory, over an explicit DriverState so tests can drive it
// without the module-wide instance.
#pragma once

#include "driver_state.h"

#include <cstdint>

namespace lcd {

// What became of a frame handed to send_frame.
enum FrameStatus : std::int32_t {
    FRAME_SENT = WRITE_OK,
    FRAME_WRITE_SHORT = WRITE_SHORT,   // cut short: the port was given up
    FRAME_WRITE_FAILED = WRITE_FAILED, // the write failed: the port was given up
    FRAME_NO_PORT = WRITE_NO_PORT,     // no port held, none (re)opened: nothing sent
    FRAME_NO_IMAGE = 1,                // null image: nothing changed
    FRAME_NO_QUADRANT = 2,             // all four markers set: nothing changed
    FRAME_SAME_QUADRANT = 3,           // quadrant sent last: nothing changed
};

// The frame call: select the quadrant and skip it when it is the one sent last; otherwise get
// the port (opening it again when it was lost and an attempt is due), encode the records,
// append a pending setting and write the frame in one write. Only a frame that went out whole
// counts as sent; after any other outcome the host's next image for that quadrant goes out,
// and the setting it carried is pending again. `now_ms` is the driver's clock, in milliseconds.
FrameStatus send_frame(DriverState &state, const std::uint8_t *pixels, std::uint64_t now_ms);

} // namespace lcd
