// A pseudo-terminal standing in for the controller's serial port: the driver opens the
// terminal side by name; the test reads what arrives on the other side.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <string>
#include <termios.h>
#include <thread>
#include <vector>

namespace lcd::test {

using Bytes = std::vector<std::uint8_t>;

inline void append(Bytes &to, const Bytes &bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

class Pty {
  public:
    // How long a read waits for bytes it expects: generous, since a loaded or emulated machine
    // may take seconds to pass on what was written. Only a failing test waits that long.
    static constexpr std::chrono::seconds DEADLINE{10};
    // How long the line must stay silent to show that nothing (more) arrived.
    static constexpr std::chrono::milliseconds QUIET{150};

    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    const std::string &path() const { return path_; }
    int master() const { return master_; }

    // The line settings as the terminal holds them now.
    termios settings() const;
    // The terminal side set binary-clean, as the driver sets its port up, for writing to it.
    int raw_terminal();

    // Reads until `count` bytes have arrived, or `deadline` has passed.
    Bytes read(std::size_t count, std::chrono::milliseconds deadline = DEADLINE);
    // Whatever arrives until the line has been silent for `quiet`.
    Bytes drain(std::chrono::milliseconds quiet = QUIET);

    // Runs `call`, which is to write `count` bytes, while reading the line; returns what
    // arrived: the `count` bytes and anything more that followed them before the line went
    // quiet. With `count` 0, what arrived while the call ran and the line stayed quiet.
    template <class Call> Bytes during(std::size_t count, Call call) {
        auto line = std::async(std::launch::async, [this, count] { return read(count); });
        call();
        Bytes bytes = line.get();
        const Bytes more = drain();
        bytes.insert(bytes.end(), more.begin(), more.end());
        return bytes;
    }

    // Hangs up the far end: closes the master, as when the device goes away.
    void close_master();

    // Fills the terminal with FILL_BYTE until it takes no more, as a far end that stopped
    // reading leaves it: the next write to it finds no room.
    static constexpr std::uint8_t FILL_BYTE = 0x55;
    void fill();

  private:
    int master_ = -1;
    int slave_ = -1; // kept open so the terminal (and its settings) outlive the driver's handle
    std::string path_;
};

// The terminal's far side read and thrown away by another thread as fast as it comes, so
// writes to the terminal never wait for a reader.
class Sink {
  public:
    explicit Sink(const Pty &pty);
    ~Sink();
    Sink(const Sink &) = delete;
    Sink &operator=(const Sink &) = delete;

  private:
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

// What arrived on a line, read as the controller reads it (lcd_panel_decoder): the broken
// records (every fault the decoder reports) and the whole frames. A resync byte ahead of the
// stream (a port opened again after a cut) is no fault; `ended`: the stream is complete, so a
// record left open counts too.
struct LineRead {
    std::uint64_t broken = 0;
    std::uint64_t frames = 0;
};
LineRead read_line(const Bytes &line, bool ended);

// A port name that can point at one terminal, at another, or at nothing: a USB adapter
// plugged in, pulled out and plugged in again under the same name.
class PortName {
  public:
    PortName();
    ~PortName();
    PortName(const PortName &) = delete;
    PortName &operator=(const PortName &) = delete;

    std::string path() const { return path_.string(); }
    void point_at(const Pty &pty) const;
    void remove() const;

  private:
    std::filesystem::path path_;
};

} // namespace lcd::test
