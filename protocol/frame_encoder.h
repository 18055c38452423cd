// The graphics frame encoder: a 320x240 host image onto one quadrant of the 640x480 panel.
//
// Marker pixels x = 1..4 of row 0 choose the quadrant (the first that is 0 wins; all four set
// means "no frame"). Each image row becomes one line record:
//
//   0E 01 | L | H | D0 .. D39        (L, H and D escaped: 0E -> 0E 0E)
//
//   L  = image row (0..239), the line within the panel half
//   H  = 0x80 for the lower half | byte column 0 or 40 for the right half
//   Dg = pixels 8g..8g+7 packed MSB first:
//
//        pixel x:  8g   8g+1  8g+2  8g+3  8g+4  8g+5  8g+6  8g+7
//        bit:       7     6     5     4     3     2     1     0
//
// A pixel byte of 0 or 1 is its bit. Other values are added in with wrapping 8-bit arithmetic
// (Dg = sum of p[8g+l] << (7-l), mod 256), which hosts that send grey levels rely on staying
// exactly so.
#pragma once

#include "protocol.h"

#include <cstdint>

namespace lcd {

inline constexpr std::int32_t NO_QUADRANT = -1;

enum Quadrant : std::int32_t {
    QUADRANT_TOP_LEFT = 0,
    QUADRANT_TOP_RIGHT = 1,
    QUADRANT_BOTTOM_LEFT = 2,
    QUADRANT_BOTTOM_RIGHT = 3,
};

// The address byte of a quadrant's line records.
constexpr std::uint8_t quadrant_address(std::int32_t quadrant) {
    constexpr std::uint8_t ADDRESS[4] = {0x00, 0x28, 0x80, 0xA8};
    return ADDRESS[quadrant & 3];
}

// Writes `byte` at `out`, doubled when it is the escape byte, and returns the end: the one
// escaping rule of a line record. The encoder uses it for the line byte and single pixel
// bytes; its row copies apply the same rule in bulk, and no address byte is the escape byte.
inline std::uint8_t *put_escaped(std::uint8_t *out, std::uint8_t byte) {
    if (byte == ESCAPE_BYTE)
        *out++ = ESCAPE_BYTE;
    *out++ = byte;
    return out;
}

// The quadrant the image's markers choose, or NO_QUADRANT when all four are set.
std::int32_t select_quadrant(const std::uint8_t *pixels);

// Writes the 240 line records of `pixels` for `quadrant` to `out` and returns the byte count
// (FRAME_MIN_SIZE to FRAME_MAX_SIZE - SETTING_TRAILER_SIZE). Pure: no state, no I/O.
std::uint32_t encode_line_records(const std::uint8_t *pixels, std::int32_t quadrant,
                                  std::uint8_t *out);

} // namespace lcd
