// Deterministic host images shared by the Linux tests and the 32-bit stand-in host, so both
// sides agree on what was sent without passing pixels between processes. Plain C++, no OS.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lcd::test {

inline constexpr std::size_t TEST_IMAGE_SIZE = 320 * 240;

// Fills `pixels` with a pattern that exercises the encoder: rows of 0/1 pixels, rows of any
// byte values (grey levels), and groups that pack to the escape byte. The markers then pick
// `quadrant` (0..3).
inline void fill_test_image(std::uint8_t *pixels, int quadrant, std::uint32_t seed) {
    std::uint32_t s = seed * 2654435761u + 1u;
    for (std::size_t y = 0; y < 240; ++y) {
        for (std::size_t x = 0; x < 320; ++x) {
            s ^= s << 13;
            s ^= s >> 17;
            s ^= s << 5;
            std::uint8_t v;
            switch (y % 4) {
            case 0:
                v = static_cast<std::uint8_t>(s & 1u);
                break;
            case 1:
                v = static_cast<std::uint8_t>(s >> 24);
                break;
            case 2:
                v = (x % 8 >= 4 && x % 8 <= 6) ? 1 : 0;
                break; // every group packs to 0x0E
            default:
                v = ((x / 8 + y / 8 + seed) % 2) ? 1 : 0;
                break;
            }
            pixels[y * 320 + x] = v;
        }
    }
    for (int m = 1; m <= 4; ++m)
        pixels[m] = m <= quadrant ? 1 : 0;
}

} // namespace lcd::test
