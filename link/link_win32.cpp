// What both Windows links (the serial port and the preview's viewer) take from the system
// alike: the clock the driver times its retries on, and a handle's owner.
#include "serial_link.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace lcd {

// A handle is never inherited on Windows: one that is held is this process's own.
bool port_opened_here(PortHandle port_handle) {
    return port_handle != NO_PORT;
}

std::uint64_t monotonic_ms() {
    return GetTickCount64();
}

} // namespace lcd
