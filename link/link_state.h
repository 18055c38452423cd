// What a link holds while the driver runs: one `Link` per backend, chosen at build time
// (LCD_PREVIEW: the preview's viewer; _WIN32: a COM port; otherwise a POSIX terminal). No
// platform headers, so the driver's state can hold one and stay platform-free. Default-
// constructed means no port held, and every member is constant-initialisable: the driver's
// state is constinit.
#pragma once

#include <cstdint>

namespace lcd {

#if defined(LCD_PREVIEW)

struct Link {
    std::intptr_t pipe = -1; // the viewer's pipe (a HANDLE), -1 when none
};

#elif defined(_WIN32)

struct Link {
    std::intptr_t handle = -1;        // the port (a HANDLE), -1 (INVALID_HANDLE_VALUE) when none
    std::uint32_t write_bound_ms = 0; // the write timeout the port was last given
};

#else

struct Link {
    int fd = -1;
    // The process that opened `fd`. A forked child inherits the descriptor, and with it the
    // parent's lock on the device: the child neither writes to it nor lets go of the lock.
    int opener_pid = 0;
};

#endif

} // namespace lcd
