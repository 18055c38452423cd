// Why a port cannot be used, in words: lcdtest asks the system itself when the driver reports
// that it could not open the port (the driver's status says only that the open failed).
// One implementation per platform: port_check_posix.cpp, port_check_win32.cpp.
#pragma once

#include <string>

namespace lcd::tool {

// The reason `port` could not be opened, e.g. "no such port; the serial ports here: ...",
// "in use by another program", "not a serial port"; empty when none is found.
std::string port_problem(const std::string &port);

// True when `port` is this process's own controlling terminal (lcdtest would write its frames
// into the terminal it is typed in). Always false on Windows.
bool is_own_terminal(const std::string &port);

// Why the driver library `path` could not be loaded, given the system's error (the Windows
// error code; on Linux the loader's text is already in words and is returned as it is).
std::string driver_load_problem(const std::string &path, unsigned long error,
                                const std::string &loader_text);

} // namespace lcd::tool
