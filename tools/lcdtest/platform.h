// What each platform gives lcdtest's run: the words of its help and messages that name its own
// files and ports (help_posix.cpp, help_win32.cpp), and from its entry file (main_posix.cpp,
// main_win32.cpp) where lcdtest runs from and the port's name as the driver takes it.
#pragma once

#include <string>
#include <vector>

namespace lcd::tool {

struct PlatformWords {
    const char *command;         // lcdtest as typed
    const char *driver_file;     // the driver library's file name
    const char *current_folder;  // the prefix that names a file in the current directory
    const char *port;            // the help's lines on what PORT is
    const char *driver_option;   // the help's lines on --driver
    const char *examples;        // the help's examples
    const char *in_use_hint;     // after "in use by another program", on a line of its own
    const char *permission_hint; // after "no permission to open it"
};
extern const PlatformWords PLATFORM;

// lcdtest's help (help.cpp), every line within 80 columns.
std::string help_text();

// The directory lcdtest runs from, with a trailing separator; empty when unknown.
std::string own_directory();

// The port name as the driver takes it: on Windows, in the system's code page.
std::string driver_port_name(const std::string &utf8);

// lcdtest itself, given its command line (UTF-8), the program's name first.
int run_lcdtest(const std::vector<std::string> &argv);

} // namespace lcd::tool
