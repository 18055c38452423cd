// --capture on Linux: the bytes written to a file descriptor as they arrive.
#include "capture.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace lcd::sim {

Capture::~Capture() {
    std::string why;
    close(why);
}

bool Capture::open(const std::string &path, const Input &input, std::string &why) {
    if (input.is_path(path)) {
        why = "it is the input itself";
        return false;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    path_ = path;
    handle_ = fd;
    return true;
}

void Capture::fail(const std::string &why) {
    std::fprintf(stderr, "lcdsim: cannot write %s: %s\n", path_.c_str(), why.c_str());
    ::close(static_cast<int>(handle_));
    handle_ = -1;
    failed_ = true;
}

void Capture::keep(const std::uint8_t *data, std::size_t size) {
    while (handle_ >= 0 && size > 0) {
        const ssize_t n = write(static_cast<int>(handle_), data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fail(n < 0 ? std::strerror(errno) : "nothing written");
            return;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

bool Capture::close(std::string &why) {
    if (handle_ < 0)
        return true;
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    if (::close(fd) != 0) {
        why = std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace lcd::sim
