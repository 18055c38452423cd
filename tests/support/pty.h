// A pseudo-terminal standing in for the controller's serial port: the driver opens the
// terminal side by name; the test reads what arrives on the other side.
#pragma once

#include <chrono>
#include <cstdint>
#include <future>
#include <string>
#include <termios.h>
#include <vector>

namespace lcd::test {

class Pty {
  public:
    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    const std::string &path() const { return path_; }
    int master() const { return master_; }

    // The line settings as the terminal holds them now.
    termios settings() const;

    // Reads until `count` bytes have arrived or nothing more comes for `quiet`.
    std::vector<std::uint8_t>
    read(std::size_t count, std::chrono::milliseconds quiet = std::chrono::milliseconds(300));
    // Everything that has arrived so far (waits briefly for stragglers).
    std::vector<std::uint8_t>
    drain(std::chrono::milliseconds quiet = std::chrono::milliseconds(50));

    // Runs `call` while draining the line, and returns what arrived meanwhile.
    template <class Call>
    std::vector<std::uint8_t>
    during(Call call, std::chrono::milliseconds quiet = std::chrono::milliseconds(150)) {
        auto line = std::async(std::launch::async, [this, quiet] { return drain(quiet); });
        call();
        return line.get();
    }

    // Hangs up the far end: closes the master, as when the device goes away.
    void close_master();

  private:
    int master_ = -1;
    int slave_ = -1; // kept open so the terminal (and its settings) outlive the driver's handle
    std::string path_;
};

} // namespace lcd::test
