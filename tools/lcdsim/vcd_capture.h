// --vcd: the bytes received as a logic analyzer would have recorded the line, a VCD of one
// wire (tx, idle high, 8N1 at the controller's 3,000,000 baud) for sigrok and PulseView.
//
// The bytes go back to back, without the pauses between the driver's writes, which lcdsim
// cannot see on a file or a pipe: the capture has the line's bytes and bit timing, not its
// gaps. The timescale is 10 ns (100 MHz to sigrok); a bit is 33 or 34 of those, its edges
// rounded from multiples of 1/3 us.
#pragma once

#include "capture.h"

#include <cstdint>
#include <string>

namespace lcd::sim {

class VcdCapture {
  public:
    // Creates (or empties) `path` and writes the VCD's header; never the input itself.
    bool open(const std::string &path, const Input &input, std::string &why);
    // Appends the bytes' start, data and stop bits as the line's edges.
    void keep(const std::uint8_t *data, std::size_t size);
    bool failed() const { return file_.failed(); }
    // Ends the line idle for a character's time, so the last stop bit is whole, and closes.
    bool close(std::string &why);

  private:
    void level(std::uint64_t bit, bool high);

    Capture file_;
    bool open_ = false;
    std::uint64_t bits_ = 0; // bit times written so far, the idle lead-in among them
    bool high_ = true;
    std::string text_;
};

} // namespace lcd::sim
