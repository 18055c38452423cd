// Files by their UTF-8 names, for lcdtest's pictures and its driver path. One implementation per
// platform: file_access_posix.cpp, file_access_win32.cpp (the wide API, so any name Windows
// allows works).
#pragma once

#include <cstdio>
#include <string>

namespace lcd::tool {

// Opens `path` for reading bytes; null with errno set when it cannot.
std::FILE *open_for_reading(const std::string &path);

// Whether anything is at `path`.
bool file_exists(const std::string &path);

// Whether a refusal to open `path` (EACCES) is because it is a folder: Windows refuses a folder
// with the same error as a locked file; Linux opens folders, so never there.
bool refused_as_folder(const std::string &path);

} // namespace lcd::tool
