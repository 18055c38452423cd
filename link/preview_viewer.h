// What the preview driver (preview_link_win32.cpp) and its viewer, lcdsim.exe, agree on, and
// why the preview's set-up could not show the panel: the thread's last error that
// LCD_SetIOPropertys leaves with its result 1, one Windows error code for each reason, so a
// host (and lcdtest) can tell them from each other and from a port's own errors (a missing
// port gives ERROR_FILE_NOT_FOUND). Plain numbers, no platform headers: the tools include this
// on every platform; preview_link_win32.cpp checks them against <windows.h>.
#pragma once

#include <cstdint>

namespace lcd {

// The viewer, lcdsim.exe, is not in the folder the preview DLL was loaded from.
// ERROR_MOD_NOT_FOUND: "The specified module could not be found."
inline constexpr std::uint32_t PREVIEW_VIEWER_MISSING = 126;

// The viewer ended at once without showing the panel: it refused the options it was given
// (LCD_PREVIEW_OPTIONS). ERROR_BAD_ARGUMENTS: "One or more arguments are not correct."
inline constexpr std::uint32_t PREVIEW_VIEWER_REFUSED = 160;

// The viewer found no desktop to show its window on (a service, a session without a logged-on
// user, Wine without a display). ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION: "This operation
// requires an interactive window station."
inline constexpr std::uint32_t PREVIEW_NO_DESKTOP = 1459;

// The viewer's exit status when its window cannot open (lcdsim --help: exit status 3).
inline constexpr std::uint32_t VIEWER_NO_WINDOW_STATUS = 3;

// The viewer, started from the preview DLL's folder, and the environment variable whose text
// the preview adds to the viewer's command line.
inline constexpr char PREVIEW_VIEWER_FILE[] = "lcdsim.exe";
inline constexpr char PREVIEW_OPTIONS_VARIABLE[] = "LCD_PREVIEW_OPTIONS";

// The viewer serves its pipe (\\.\pipe\NAME) before its window opens, and once the window
// shows, sets the event Local\NAME.shown if there is one: the set-up that started it waits for
// that event or the viewer's end, within its bound, so a viewer that cannot show a window is
// reported instead of drawn into.
inline constexpr char VIEWER_SHOWN_SUFFIX[] = ".shown";

} // namespace lcd
