// The frame written out the plain way, pixel by pixel and byte by byte, as the controller
// documents it: the oracle the fast encoder is checked against.
#pragma once

#include <cstdint>
#include <vector>

namespace lcd::test {

inline constexpr std::size_t W = 320;
inline constexpr std::size_t H = 240;

using Image = std::vector<std::uint8_t>; // 320 x 240, one byte per pixel

inline Image blank_image() {
    return Image(W * H, 0);
}

// An image for `quadrant` (0..3): markers 1..quadrant set, marker quadrant+1 clear.
inline Image image_for_quadrant(int quadrant, Image image = blank_image()) {
    for (int m = 1; m <= 4; ++m)
        image[static_cast<std::size_t>(m)] = m <= quadrant ? 1 : 0;
    return image;
}

inline void put_escaped(std::vector<std::uint8_t> &out, std::uint8_t b) {
    if (b == 0x0E)
        out.push_back(0x0E);
    out.push_back(b);
}

// Line records for `image` on `quadrant`, then the setting trailer when `setting` >= 0.
inline std::vector<std::uint8_t> reference_frame(const Image &image, int quadrant,
                                                 int setting = -1) {
    const unsigned x0 = (quadrant & 1) ? 320 : 0;
    const unsigned y0 = (quadrant & 2) ? 240 : 0;
    std::vector<std::uint8_t> out;
    for (unsigned j = 0; j < H; ++j) {
        const unsigned r = y0 + j;
        out.push_back(0x0E);
        out.push_back(0x01);
        put_escaped(out, static_cast<std::uint8_t>(r % 240));
        put_escaped(out, static_cast<std::uint8_t>((r / 240) * 128 + x0 / 8));
        for (unsigned g = 0; g < 40; ++g) {
            std::uint8_t d = 0;
            for (unsigned l = 0; l < 8; ++l)
                d = static_cast<std::uint8_t>(d + image[j * W + 8 * g + l] * (1u << (7 - l)));
            put_escaped(out, d);
        }
    }
    if (setting >= 0) {
        out.push_back(0x0E);
        out.push_back(0x02);
        out.push_back(static_cast<std::uint8_t>(setting));
    }
    return out;
}

} // namespace lcd::test
