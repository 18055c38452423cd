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
    // The viewer the driver started (a process HANDLE), 0 when none: while it runs it may still
    // be on its way to serving the pipe.
    std::intptr_t viewer = 0;
    // Nobody served the pipe and no viewer of the driver's was on its way (the user closed the
    // window): only the host's set-up looks for one again.
    bool closed = false;
    // The next open is the host's set-up (let_next_open_start_viewer, preview_link.h).
    bool may_start_viewer = false;
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
