// --capture: the raw bytes received, kept in a file as they arrive, so that `lcdsim FILE`
// replays them. One file per platform (capture_posix.cpp, capture_win32.cpp).
#pragma once

#include "input.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace lcd::sim {

class Capture {
  public:
    Capture() = default;
    Capture(const Capture &) = delete;
    Capture &operator=(const Capture &) = delete;
    ~Capture();

    // Creates (or empties) `path`; never the input itself. False with the reason in `why`.
    bool open(const std::string &path, const Input &input, std::string &why);
    // Appends the bytes (nothing without a capture). A failed write is said once on stderr
    // and closes the capture; failed() tells from then on.
    void keep(const std::uint8_t *data, std::size_t size);
    bool failed() const { return failed_; }
    // Closes the file; false with the reason in `why` when its last bytes could not be kept.
    bool close(std::string &why);

  private:
    void fail(const std::string &why);

    std::string path_;
    std::intptr_t handle_ = -1; // a descriptor, or a Windows handle
    bool failed_ = false;
};

} // namespace lcd::sim
