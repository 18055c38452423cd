// The preview driver's one call beyond the link's interface (preview_link_win32.cpp).
//
// An open of the preview's link either may start the panel viewer (lcdsim.exe) and wait for it,
// or only connects to a viewer already running. Only the host's set-up may start one: the
// driver's own attempts to get the pipe back only connect, and once nobody serves the pipe and
// no viewer the driver started is on its way, they stop looking. So a window the user closed
// does not pop back by itself, and comes back when the host sets the port up again.
#pragma once

#include "link/link_state.h"

namespace lcd {

// The next open_port is the host's set-up: it may start the viewer and wait for it, even after
// the user closed its window. Every other open only connects.
void let_next_open_start_viewer(Link &link);

} // namespace lcd
