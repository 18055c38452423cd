#include "port_name.h"

namespace lcd {
namespace {

constexpr char DEVICE_PREFIX[] = "\\\\.\\";
constexpr std::size_t DEVICE_PREFIX_LENGTH = sizeof DEVICE_PREFIX - 1;

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool is_bare_com_name(const char *name, std::size_t &length) {
    if (upper(name[0]) != 'C' || upper(name[1]) != 'O' || upper(name[2]) != 'M')
        return false;
    std::size_t i = 3;
    while (name[i] >= '0' && name[i] <= '9') {
        if (++i >= DEVICE_PATH_CAPACITY - DEVICE_PREFIX_LENGTH)
            return false;
    }
    length = i;
    return i > 3 && name[i] == '\0';
}

} // namespace

const char *device_path(const char *port_name, char (&out)[DEVICE_PATH_CAPACITY]) {
    std::size_t length = 0;
    if (port_name == nullptr || !is_bare_com_name(port_name, length))
        return port_name;
    std::size_t o = 0;
    for (std::size_t i = 0; i < DEVICE_PREFIX_LENGTH; ++i)
        out[o++] = DEVICE_PREFIX[i];
    for (std::size_t i = 0; i <= length; ++i) // copies the terminator too
        out[o++] = port_name[i];
    return out;
}

} // namespace lcd
