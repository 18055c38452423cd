// The OS's error as words, for the tools' messages, and the words lcdsim and lcdtest share for
// what both meet: a file or a port that is not there, a mistake on the command line. One
// implementation per platform: os_text_posix.cpp (strerror, /dev), os_text_win32.cpp
// (FormatMessage with the code, the registry's serial-port map).
#pragma once

#include <string>

namespace lcd::tool {

inline constexpr char NO_SUCH_FILE[] = "there is no such file";

// NO_SUCH_FILE when `error` says the file is not there, else the system's words.
std::string file_error_text(unsigned long error);

// "no such port; the COM ports here: COM1 COM3" ("the serial devices here: ..." on Linux), the
// ports read from the system's lists, not by opening any.
std::string no_such_port_text();

// A mistake on `command`'s command line, and where its help is.
inline std::string usage_text(const std::string &what, const std::string &command) {
    return what + "\n(see " + command + " --help)";
}

// The system's own words for `error` (errno on Linux, GetLastError()'s code on Windows):
// "No such file or directory"; "error 2 (The system cannot find the file specified)", where
// an insert such as %1 in Windows' text names `subject`.
std::string system_error_text(unsigned long error, const std::string &subject = "it");

} // namespace lcd::tool
