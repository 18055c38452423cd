#include "port_name.h"

namespace lcd {
namespace {

constexpr char DEVICE_PREFIX[] = "\\\\.\\";
constexpr std::size_t DEVICE_PREFIX_LENGTH = sizeof DEVICE_PREFIX - 1;
constexpr std::size_t MAX_DIGITS = DEVICE_PATH_CAPACITY - DEVICE_PREFIX_LENGTH - 3 - 1;

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool is_space(char c) {
    return c == ' ' || c == '\t';
}

bool has_prefix(const char *name) {
    for (std::size_t i = 0; i < DEVICE_PREFIX_LENGTH; ++i) {
        if (name[i] != DEVICE_PREFIX[i])
            return false;
    }
    return true;
}

// Where "COM" and its digits start in `name`, and how long they are; false for other names.
bool find_com_name(const char *name, const char *&start, std::size_t &length) {
    while (is_space(*name))
        ++name;
    if (has_prefix(name))
        name += DEVICE_PREFIX_LENGTH;
    if (upper(name[0]) != 'C' || upper(name[1]) != 'O' || upper(name[2]) != 'M')
        return false;
    std::size_t i = 3;
    while (name[i] >= '0' && name[i] <= '9') {
        if (++i > 3 + MAX_DIGITS)
            return false;
    }
    if (i == 3)
        return false;
    start = name;
    length = i;
    if (name[i] == ':')
        ++i;
    while (is_space(name[i]))
        ++i;
    return name[i] == '\0';
}

} // namespace

const char *device_path(const char *port_name, char (&out)[DEVICE_PATH_CAPACITY]) {
    const char *start = nullptr;
    std::size_t length = 0;
    if (port_name == nullptr || !find_com_name(port_name, start, length))
        return port_name;
    std::size_t o = 0;
    for (std::size_t i = 0; i < DEVICE_PREFIX_LENGTH; ++i)
        out[o++] = DEVICE_PREFIX[i];
    for (std::size_t i = 0; i < length; ++i)
        out[o++] = start[i];
    out[o] = '\0';
    return out;
}

} // namespace lcd
