// lcdtest on Linux: its entry, where it runs from, and port names as they are.
#include "platform.h"

#include <unistd.h>

namespace lcd::tool {

std::string own_directory() {
    char path[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    const std::string s(path, static_cast<std::size_t>(n));
    return s.substr(0, s.find_last_of('/') + 1);
}

std::string driver_port_name(const std::string &utf8) {
    return utf8;
}

} // namespace lcd::tool

int main(int argc, char **argv) {
    return lcd::tool::run_lcdtest(std::vector<std::string>(argv, argv + argc));
}
