#include "file_access.h"

#include <unistd.h>

namespace lcd::tool {

std::FILE *open_for_reading(const std::string &path) {
    return std::fopen(path.c_str(), "rb");
}

bool file_exists(const std::string &path) {
    return access(path.c_str(), F_OK) == 0;
}

bool refused_as_folder(const std::string &) {
    return false;
}

} // namespace lcd::tool
