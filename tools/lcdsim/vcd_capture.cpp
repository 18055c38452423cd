// --vcd: the line's edges as a VCD (see vcd_capture.h).
#include "vcd_capture.h"

#include "lcd_version.h"
#include "link/serial_link.h"

#include <cstdio>
#include <numeric>

namespace lcd::sim {
namespace {

// Ticks of the timescale, 10 ns; the header spells it out, and the line's rate.
constexpr std::uint64_t VCD_TICKS_PER_SECOND = 100'000'000;
static_assert(lcd::LINK_BAUD_RATE == 3'000'000, "the header's $comment says 3000000 baud");

// Idle before the first start bit and after the last stop bit: one character's time, so a
// UART decoder sees the line idle before it and the last stop bit whole.
constexpr std::uint64_t IDLE_BITS = 10;

// A bit lasts TICKS_PER_BIT_NUM / TICKS_PER_BIT_DEN ticks (100 / 3).
constexpr std::uint64_t TICKS_GCD =
    std::gcd(VCD_TICKS_PER_SECOND, std::uint64_t{lcd::LINK_BAUD_RATE});
constexpr std::uint64_t TICKS_PER_BIT_NUM = VCD_TICKS_PER_SECOND / TICKS_GCD;
constexpr std::uint64_t TICKS_PER_BIT_DEN = lcd::LINK_BAUD_RATE / TICKS_GCD;

// The time of a bit's leading edge in ticks, rounded to the nearest tick.
std::uint64_t bit_time(std::uint64_t bit) {
    return (2 * bit * TICKS_PER_BIT_NUM / TICKS_PER_BIT_DEN + 1) / 2;
}

} // namespace

bool VcdCapture::open(const std::string &path, const Input &input, std::string &why) {
    if (!file_.open(path, input, why))
        return false;
    open_ = true;
    bits_ = IDLE_BITS;
    high_ = true;
    text_ = "$version lcdsim " LCD_VERSION " $end\n"
            "$comment the controller's line as lcdsim received it: 8N1 at 3000000 baud, the "
            "bytes back to back $end\n"
            "$timescale 10 ns $end\n"
            "$scope module lcdsim $end\n"
            "$var wire 1 ! tx $end\n"
            "$upscope $end\n"
            "$enddefinitions $end\n"
            "#0\n$dumpvars\n1!\n$end\n";
    file_.keep(reinterpret_cast<const std::uint8_t *>(text_.data()), text_.size());
    return true;
}

void VcdCapture::level(std::uint64_t bit, bool high) {
    if (high == high_)
        return;
    high_ = high;
    char line[32];
    const int n = std::snprintf(line, sizeof line, "#%llu\n%c!\n",
                                static_cast<unsigned long long>(bit_time(bit)), high ? '1' : '0');
    text_.append(line, static_cast<std::size_t>(n));
}

void VcdCapture::keep(const std::uint8_t *data, std::size_t size) {
    if (!open_ || file_.failed())
        return;
    text_.clear();
    for (std::size_t i = 0; i < size; ++i) {
        // The start bit, the data bits least significant first, the stop bit.
        level(bits_, false);
        for (unsigned b = 0; b < 8; ++b)
            level(bits_ + 1 + b, ((data[i] >> b) & 1u) != 0);
        level(bits_ + 9, true);
        bits_ += 10;
    }
    file_.keep(reinterpret_cast<const std::uint8_t *>(text_.data()), text_.size());
}

bool VcdCapture::close(std::string &why) {
    if (open_ && !file_.failed()) {
        // The closing time stamp: the line stays idle up to it.
        char line[32];
        const int n = std::snprintf(line, sizeof line, "#%llu\n",
                                    static_cast<unsigned long long>(bit_time(bits_ + IDLE_BITS)));
        file_.keep(reinterpret_cast<const std::uint8_t *>(line), static_cast<std::size_t>(n));
    }
    open_ = false;
    return file_.close(why);
}

} // namespace lcd::sim
