#include "port_check.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace lcd::tool {
namespace {

// /dev/tty, the alias of a process's controlling terminal, is character device 5, 0.
constexpr unsigned TTY_MAJOR_ALIAS = 5;

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
