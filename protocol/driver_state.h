// All of the driver's state, module-wide, living from load to unload.
#pragma once

#include "frame_encoder.h"
#include "link/serial_link.h"
#include "transmit_buffer.h"

#include <cstdint>

namespace lcd {

struct DriverState {
    TransmitBuffer tx;
    PendingSetting setting;
    // NO_QUADRANT until the first frame goes out, so that frame is sent whatever its quadrant.
    std::int32_t last_quadrant = NO_QUADRANT;
    bool port_initialised = false;
    PortHandle port_handle = NO_PORT;
};

} // namespace lcd
