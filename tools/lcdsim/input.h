// lcdsim's inputs: where the controller's byte stream comes from. One file per kind of input
// and platform (input_*_posix.cpp, input_*_win32.cpp); the run reads them all the same way.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace lcd::sim {

enum class ReadStatus : std::uint8_t {
    Bytes,   // `size` bytes arrived
    Nothing, // the wait passed with nothing (a line whose far end hung up waits for it)
    End,     // the end of a file or of stdin
    Failed,  // the input cannot be read; why() says why
};

struct ReadResult {
    ReadStatus status = ReadStatus::Nothing;
    std::size_t size = 0;
};

class Input {
  public:
    Input() = default;
    Input(const Input &) = delete;
    Input &operator=(const Input &) = delete;
    virtual ~Input() = default;

    // Up to `size` bytes into `buffer`, waiting at most `wait` for the first of them.
    virtual ReadResult read(std::uint8_t *buffer, std::size_t size,
                            std::chrono::milliseconds wait) = 0;
    // A line (terminal, port, pipe): its far end may go and come back, so only the idle limit
    // or a stop ends it, by default after a while without bytes.
    virtual bool live() const = 0;
    // Whether `path` is this input itself (a capture must never overwrite its own input).
    virtual bool is_path(const std::string & /*path*/) const { return false; }
    // lcdsim is ready for the bytes: an input others must find announces itself now. False
    // with why() when it cannot.
    virtual bool announce() { return true; }

    // The input's name as the window's title and the messages give it.
    const std::string &name() const { return name_; }
    const std::string &why() const { return why_; }

  protected:
    std::string name_;
    std::string why_;
};

} // namespace lcd::sim
