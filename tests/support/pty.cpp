#include "pty.h"

#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <unistd.h>

namespace lcd::test {

Pty::Pty() {
    char name[128] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    path_ = name;
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

std::vector<std::uint8_t> Pty::read(std::size_t count, std::chrono::milliseconds quiet) {
    std::vector<std::uint8_t> out;
    std::uint8_t chunk[4096];
    while (out.size() < count) {
        pollfd pfd{master_, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(quiet.count())) <= 0 || !(pfd.revents & POLLIN))
            break;
        const ssize_t n = ::read(master_, chunk, sizeof chunk);
        if (n <= 0)
            break;
        out.insert(out.end(), chunk, chunk + n);
    }
    return out;
}

std::vector<std::uint8_t> Pty::drain(std::chrono::milliseconds quiet) {
    return read(SIZE_MAX, quiet);
}

void Pty::close_master() {
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

} // namespace lcd::test
