// lcdsim's inputs on Linux: each is a file descriptor read with a wait (input_fd_posix.cpp);
// a file or stdin (input_file_posix.cpp), a serial device (input_serial_posix.cpp) and a
// pseudo-terminal of lcdsim's own (input_pty_posix.cpp) differ in how they are opened.
#pragma once

#include "input.h"

namespace lcd::sim {

class FdInput : public Input {
  public:
    ~FdInput() override;
    ReadResult read(std::uint8_t *buffer, std::size_t size,
                    std::chrono::milliseconds wait) override;
    bool live() const override { return live_; }
    bool is_path(const std::string &path) const override;

  protected:
    int fd_ = -1;
    bool owned_ = true; // closed at the end (stdin is not)
    bool live_ = false;
};

// A terminal read raw: every byte as it arrives, nothing translated or echoed.
void make_raw(int fd);

// A capture file, a FIFO or - for stdin; a serial device when `path` is a terminal.
std::unique_ptr<Input> open_file_input(const std::string &path, std::string &why);
// The terminal `fd`, opened from `path`, read as the controller reads its line.
std::unique_ptr<Input> serial_input(int fd, const std::string &path);
// A new pseudo-terminal; its path is printed (and written to `pty_file` unless empty) once
// lcdsim is ready for the bytes.
std::unique_ptr<Input> open_pty_input(const std::string &pty_file, std::string &why);

} // namespace lcd::sim
