// The OS's error as words, for the tools' messages. One implementation per platform:
// os_text_posix.cpp (strerror), os_text_win32.cpp (FormatMessage, with the code).
#pragma once

#include <string>

namespace lcd::tool {

// The system's own words for `error` (errno on Linux, GetLastError()'s code on Windows):
// "No such file or directory"; "error 2 (The system cannot find the file specified)", where
// an insert such as %1 in Windows' text names `subject`.
std::string system_error_text(unsigned long error, const std::string &subject = "it");

} // namespace lcd::tool
