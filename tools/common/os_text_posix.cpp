#include "os_text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <vector>

namespace lcd::tool {
namespace {

// Where serial adapters show up: USB serial and modem-class devices, and their stable names.
constexpr const char *SERIAL_NAME_PREFIXES[] = {"ttyUSB", "ttyACM"};
constexpr const char DEV_DIR[] = "/dev", BY_ID_DIR[] = "/dev/serial/by-id";

std::vector<std::string> entries(const char *dir, const char *const *prefixes, std::size_t n) {
    std::vector<std::string> out;
    DIR *d = opendir(dir);
    if (d == nullptr)
        return out;
    // One thread reads this directory stream: readdir is safe here (readdir_r is obsolete).
    // cppcheck-suppress readdirCalled
    while (const dirent *e = readdir(d)) {
        const std::string name = e->d_name;
        if (name[0] == '.')
            continue;
        const bool wanted = n == 0 || std::any_of(prefixes, prefixes + n, [&](const char *p) {
                                return name.rfind(p, 0) == 0;
                            });
        if (wanted)
            out.push_back(std::string(dir) + "/" + name);
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

std::string serial_ports_here() {
    std::vector<std::string> ports =
        entries(DEV_DIR, SERIAL_NAME_PREFIXES, std::size(SERIAL_NAME_PREFIXES));
    const std::vector<std::string> by_id = entries(BY_ID_DIR, nullptr, 0);
    ports.insert(ports.end(), by_id.begin(), by_id.end());
    if (ports.empty())
        return "no USB serial devices (/dev/ttyUSB*, /dev/ttyACM*) are connected";
    std::string list = "the serial devices here:";
    for (const std::string &p : ports)
        list += " " + p;
    return list;
}

} // namespace

std::string system_error_text(unsigned long error, const std::string &) {
    return std::strerror(static_cast<int>(error));
}

std::string file_error_text(unsigned long error) {
    return error == ENOENT ? NO_SUCH_FILE : system_error_text(error);
}

std::string no_such_port_text() {
    return "no such port; " + serial_ports_here();
}

} // namespace lcd::tool
