// The frame and the panel written out the plain way, pixel by pixel and byte by byte, as the
// controller documents them: the oracle the fast encoder, the driver and the decoder are
// checked against. Only the protocol's constants are shared with the product, no code.
#pragma once

#include "protocol/protocol.h"
#include "test_images.h"

#include <array>
#include <cstdint>
#include <vector>

namespace lcd::test {

using Bytes = std::vector<std::uint8_t>;

// Pixels 8g..8g+7 as pixel byte Dg: pixel l weighted 2^(7 - l), the sum wrapping at 8 bits.
inline std::uint8_t pack_group(const std::uint8_t *eight) {
    std::uint8_t d = 0;
    for (unsigned l = 0; l < 8; ++l)
        d = static_cast<std::uint8_t>(d + eight[l] * (1u << (7 - l)));
    return d;
}

inline void put_escaped(std::vector<std::uint8_t> &out, std::uint8_t b) {
    if (b == 0x0E)
        out.push_back(0x0E);
    out.push_back(b);
}

// The controller's initialisation and the driver's sign-off, as they go on the wire.
inline const std::vector<std::uint8_t> INIT = {0x0E, 0x02, 0x50, 0x03, 0x00, 0x0E, 0x0B};
inline const std::vector<std::uint8_t> SIGN_OFF = {0x0E, 0x02, 0x0A, 0x0E, 0x0B};

// Line records for `image` on `quadrant`, then the setting trailer when `setting` >= 0.
inline std::vector<std::uint8_t> reference_frame(const Image &image, int quadrant,
                                                 int setting = -1) {
    const std::size_t x0 = (quadrant & 1) ? IMAGE_WIDTH : 0;
    const std::size_t y0 = (quadrant & 2) ? IMAGE_HEIGHT : 0;
    std::vector<std::uint8_t> out;
    for (std::size_t j = 0; j < IMAGE_HEIGHT; ++j) {
        const std::size_t r = y0 + j;
        out.push_back(0x0E);
        out.push_back(0x01);
        put_escaped(out, static_cast<std::uint8_t>(r % PANEL_HALF_LINES));
        put_escaped(out, static_cast<std::uint8_t>((r / PANEL_HALF_LINES) * 128 + x0 / 8));
        for (std::size_t g = 0; g < ROW_PIXEL_BYTES; ++g)
            put_escaped(out, pack_group(&image[j * IMAGE_WIDTH + 8 * g]));
    }
    if (setting >= 0) {
        out.push_back(0x0E);
        out.push_back(0x02);
        out.push_back(static_cast<std::uint8_t>(setting));
    }
    return out;
}

// The 640x480 panel at one bit per pixel, 80 bytes a line, pixel bit 7 leftmost.
using PackedPanel = std::array<std::uint8_t, PANEL_HEIGHT * PANEL_LINE_BYTES>;

// `panel` after `image` has landed on `quadrant`.
inline PackedPanel reference_panel(const Image &image, int quadrant, PackedPanel panel = {}) {
    const std::size_t x0 = (quadrant & 1) ? ROW_PIXEL_BYTES : 0;
    const std::size_t y0 = (quadrant & 2) ? IMAGE_HEIGHT : 0;
    for (std::size_t y = 0; y < IMAGE_HEIGHT; ++y)
        for (std::size_t g = 0; g < ROW_PIXEL_BYTES; ++g)
            panel[(y0 + y) * PANEL_LINE_BYTES + x0 + g] =
                pack_group(&image[y * IMAGE_WIDTH + 8 * g]);
    return panel;
}

} // namespace lcd::test
