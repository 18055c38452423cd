#include "pty.h"

#include "decoder/panel_decoder.h"
#include "protocol/protocol.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <unistd.h>

namespace lcd::test {
namespace {

using Clock = std::chrono::steady_clock;

// Waits up to `timeout` for bytes on `fd` and appends what one read returns; false when none
// came or the far end is gone.
bool read_some(int fd, std::chrono::milliseconds timeout, Bytes &out) {
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, static_cast<int>(timeout.count())) <= 0 || (pfd.revents & POLLIN) == 0)
        return false;
    std::uint8_t chunk[1 << 16];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0)
        return false;
    out.insert(out.end(), chunk, chunk + n);
    return true;
}

} // namespace

Pty::Pty() {
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    path_ = name;
    // Kept from the programs the tests start: a copy of the master in one would keep the line
    // up after close_master().
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

Pty::~Pty() {
    close_master();
    if (slave_ >= 0)
        close(slave_);
}

termios Pty::settings() const {
    termios tio{};
    if (tcgetattr(slave_, &tio) != 0)
        throw std::runtime_error("tcgetattr on the terminal failed");
    return tio;
}

int Pty::raw_terminal() {
    termios tio = settings();
    cfmakeraw(&tio);
    if (tcsetattr(slave_, TCSANOW, &tio) != 0)
        throw std::runtime_error("tcsetattr on the terminal failed");
    return slave_;
}

Bytes Pty::read(std::size_t count, std::chrono::milliseconds deadline) {
    Bytes out;
    const auto end = Clock::now() + deadline;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0 || !read_some(master_, left, out))
            break;
    }
    return out;
}

Bytes Pty::drain(std::chrono::milliseconds quiet) {
    Bytes out;
    while (read_some(master_, quiet, out)) {
    }
    return out;
}

void Pty::close_master() {
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

void Pty::fill() {
    const int fd = raw_terminal();
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const Bytes chunk(4096, FILL_BYTE);
    // The kernel moves what fits on to the master's side a moment later, which may make room
    // again: fill down to single bytes, and again, until there is no room for a while.
    pollfd pfd{fd, POLLOUT, 0};
    do {
        for (std::size_t size = chunk.size(); size > 0; size /= 2)
            while (::write(fd, chunk.data(), size) > 0) {
            }
    } while (poll(&pfd, 1, static_cast<int>(QUIET.count())) > 0);
    fcntl(fd, F_SETFL, flags);
}

LineRead read_line(const Bytes &line, bool ended) {
    sim::PanelDecoder decoder;
    const std::size_t skip = !line.empty() && line.front() == RESYNC_BYTE ? 1 : 0;
    decoder.feed(line.data() + skip, line.size() - skip);
    if (ended)
        decoder.finish();
    return {decoder.counters().errors, decoder.counters().frames};
}

PortName::PortName()
    : path_(std::filesystem::temp_directory_path() /
            ("lcd-port-name-" + std::to_string(getpid()))) {
    remove();
}

PortName::~PortName() {
    remove();
}

void PortName::point_at(const Pty &pty) const {
    std::filesystem::create_symlink(pty.path(), path_);
}

void PortName::remove() const {
    std::filesystem::remove(path_);
}

Sink::Sink(const Pty &pty)
    : reader_([this, fd = pty.master()] {
          Bytes discarded;
          while (!stop_.load(std::memory_order_relaxed)) {
              read_some(fd, std::chrono::milliseconds(20), discarded);
              discarded.clear();
          }
      }) {}

Sink::~Sink() {
    stop_ = true;
    reader_.join();
}

} // namespace lcd::test
