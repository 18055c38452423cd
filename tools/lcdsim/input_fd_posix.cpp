// Reading a file descriptor with a wait, shared by lcdsim's Linux inputs (see input_posix.h).
#include "input_posix.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace lcd::sim {
namespace {
// A terminal whose far end hung up is looked at again after this long.
constexpr std::chrono::milliseconds HANGUP_RETRY{50};
} // namespace

FdInput::~FdInput() {
    if (owned_ && fd_ >= 0)
        close(fd_);
}

ReadResult FdInput::read(std::uint8_t *buffer, std::size_t size, std::chrono::milliseconds wait) {
    pollfd pfd{fd_, POLLIN, 0};
    const int ready = poll(&pfd, 1, static_cast<int>(wait.count()));
    if (ready == 0 || (ready < 0 && errno == EINTR))
        return {};
    if (ready < 0) {
        why_ = std::string("poll: ") + std::strerror(errno);
        return {ReadStatus::Failed, 0};
    }
    const ssize_t n = ::read(fd_, buffer, size);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return {};
    if ((n < 0 && errno == EIO && live_) || (n == 0 && live_)) {
        // A terminal hung up or with its other side closed: it may come back.
        std::this_thread::sleep_for(std::min(wait, HANGUP_RETRY));
        return {};
    }
    if (n < 0) {
        why_ = std::string("read: ") + std::strerror(errno);
        return {ReadStatus::Failed, 0};
    }
    if (n == 0)
        return {ReadStatus::End, 0};
    return {ReadStatus::Bytes, static_cast<std::size_t>(n)};
}

bool FdInput::is_path(const std::string &path) const {
    struct stat in {
    }, out{};
    return fstat(fd_, &in) == 0 && stat(path.c_str(), &out) == 0 && in.st_dev == out.st_dev &&
           in.st_ino == out.st_ino;
}

void make_raw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return;
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
#ifdef B3000000
    cfsetspeed(&tio, B3000000);
#endif
    tcsetattr(fd, TCSANOW, &tio);
}

} // namespace lcd::sim
