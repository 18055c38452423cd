#include "file_access.h"
#include "utf8_win32.h"

namespace lcd::tool {

std::FILE *open_for_reading(const std::string &path) {
    return _wfopen(widen(path).c_str(), L"rb");
}

bool file_exists(const std::string &path) {
    return GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool refused_as_folder(const std::string &path) {
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace lcd::tool
