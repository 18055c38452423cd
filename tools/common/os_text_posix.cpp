#include "os_text.h"

#include <cstring>

namespace lcd::tool {

std::string system_error_text(unsigned long error, const std::string &) {
    return std::strerror(static_cast<int>(error));
}

} // namespace lcd::tool
