#include "port_check.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <vector>

namespace lcd::tool {
namespace {

// Where serial adapters show up: USB serial and modem-class devices, and their stable names.
constexpr const char *SERIAL_NAME_PREFIXES[] = {"ttyUSB", "ttyACM"};
constexpr const char DEV_DIR[] = "/dev", BY_ID_DIR[] = "/dev/serial/by-id";
// /dev/tty, the alias of a process's controlling terminal, is character device 5, 0.
constexpr unsigned TTY_MAJOR_ALIAS = 5;

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

} // namespace

unsigned long last_os_error() {
    return static_cast<unsigned long>(errno);
}

void clear_last_os_error() {
    errno = 0;
}

PortFault port_fault(unsigned long error) {
    switch (static_cast<int>(error)) {
    case 0:
        return PortFault::NONE;
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
        return PortFault::NO_SUCH_PORT;
    case EBUSY:  // another opener's TIOCEXCL
    case EAGAIN: // another opener's flock, as the driver takes it (EWOULDBLOCK)
        return PortFault::IN_USE;
    case EACCES:
    case EPERM:
        return PortFault::NO_PERMISSION;
    case ENOTTY:
        return PortFault::NOT_A_PORT;
    case ETIMEDOUT:
        return PortFault::TIMED_OUT;
    default:
        return PortFault::OTHER;
    }
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

bool is_own_terminal(const std::string &port) {
    struct stat named {};
    if (stat(port.c_str(), &named) != 0 || !S_ISCHR(named.st_mode))
        return false;
    if (named.st_rdev == makedev(TTY_MAJOR_ALIAS, 0)) // /dev/tty: whichever terminal is ours
        return true;
    // The controlling terminal's device number, field 7 of /proc/self/stat (after the command
    // name, which may hold anything up to its last ')').
    std::FILE *f = std::fopen("/proc/self/stat", "r");
    if (f == nullptr)
        return false;
    char text[1024] = {};
    const std::size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    const char *end_of_name = std::strrchr(text, ')');
    if (n == 0 || end_of_name == nullptr)
        return false;
    // " S ppid pgrp session tty_nr": the state letter, then four numbers.
    const char *at = end_of_name + 1;
    while (*at == ' ')
        ++at;
    if (*at == '\0')
        return false;
    ++at;
    long field = 0;
    for (int k = 0; k < 4; ++k) {
        char *next = nullptr;
        field = std::strtol(at, &next, 10);
        if (next == at)
            return false;
        at = next;
    }
    if (field <= 0)
        return false;
    const auto tty = static_cast<unsigned long>(field);
    const auto major_number = static_cast<unsigned>((tty >> 8) & 0xFFFu);
    const auto minor_number = static_cast<unsigned>((tty & 0xFFu) | ((tty >> 12) & 0xFFF00u));
    return named.st_rdev == makedev(major_number, minor_number);
}

} // namespace lcd::tool
