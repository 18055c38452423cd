// Host images the tests send. The deterministic pattern (fill_test_image) is shared with the
// 32-bit stand-in host, so both sides agree on what was sent without passing pixels between
// processes; so is the soak's seed of each image. Plain C++, no OS.
#pragma once

#include "protocol/protocol.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <random>
#include <string_view>
#include <system_error>
#include <vector>

namespace lcd::test {

using Image = std::vector<std::uint8_t>; // IMAGE_WIDTH x IMAGE_HEIGHT, one byte per pixel

// Sets the marker pixels x = 1..4 of row 0 for `quadrant` (0..3): markers 1..quadrant set,
// marker quadrant+1 clear.
inline void set_markers(std::uint8_t *pixels, int quadrant) {
    for (int m = 1; m <= 4; ++m)
        pixels[m] = m <= quadrant ? 1 : 0;
}

// Pixels 4, 5 and 6 of a group of eight lit, the rest off: the group packs to the escape byte.
inline void set_escape_group(std::uint8_t *group) {
    for (std::size_t l = 0; l < 8; ++l)
        group[l] = (l >= 4 && l <= 6) ? 1 : 0;
}

inline Image blank_image() {
    return Image(IMAGE_SIZE, 0);
}

// `image` with its markers set for `quadrant`.
inline Image image_for_quadrant(int quadrant, Image image = blank_image()) {
    set_markers(image.data(), quadrant);
    return image;
}

// Every group packs to the escape byte: the most escaping a frame has. Marker 1 (pixel 1,
// off) picks quadrant 0; image_for_quadrant moves it, at the cost of group 0.
inline Image escape_image() {
    Image image = blank_image();
    for (std::size_t i = 0; i < image.size(); i += 8)
        set_escape_group(&image[i]);
    return image;
}

// Random 0/1 pixels.
inline Image random_bits_image(unsigned seed, int quadrant) {
    std::mt19937 rng(seed);
    Image image = blank_image();
    for (auto &p : image)
        p = static_cast<std::uint8_t>(rng() & 1u);
    return image_for_quadrant(quadrant, image);
}

// Fills `pixels` with a pattern that exercises the encoder: rows of 0/1 pixels, rows of any
// byte values (grey levels), and groups that pack to the escape byte. The markers then pick
// `quadrant` (0..3).
inline void fill_test_image(std::uint8_t *pixels, int quadrant, std::uint32_t seed) {
    std::uint32_t s = seed * 2654435761u + 1u;
    for (std::size_t y = 0; y < IMAGE_HEIGHT; ++y) {
        for (std::size_t x = 0; x < IMAGE_WIDTH; ++x) {
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
                v = 0; // every group packs to 0x0E, below
                break;
            default:
                v = ((x / 8 + y / 8 + seed) % 2) ? 1 : 0;
                break;
            }
            pixels[y * IMAGE_WIDTH + x] = v;
        }
        if (y % 4 == 2) {
            for (std::size_t x = 0; x < IMAGE_WIDTH; x += 8)
                set_escape_group(pixels + y * IMAGE_WIDTH + x);
        }
    }
    set_markers(pixels, quadrant);
}

// Load/unload cycles of the soak: a few in every run, many from scripts/soak.sh.
inline constexpr unsigned SOAK_CYCLES_DEFAULT = 3;

// LCD_SOAK_CYCLES, or the default when it is unset or empty. Nothing when it is set to
// anything but a positive number: the soak then fails saying so, rather than passing with
// nothing tested.
inline std::optional<unsigned> soak_cycles() {
    const char *text = std::getenv("LCD_SOAK_CYCLES");
    if (text == nullptr || *text == '\0')
        return SOAK_CYCLES_DEFAULT;
    const std::string_view s(text);
    unsigned cycles = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), cycles);
    if (error != std::errc() || end != s.data() + s.size() || cycles == 0)
        return std::nullopt;
    return cycles;
}

// The seed of the image for quadrant `q` in soak cycle `cycle`, on both sides of the line.
inline constexpr std::uint32_t soak_seed(unsigned cycle, int q) {
    return 100 + 4 * cycle + static_cast<std::uint32_t>(q);
}

} // namespace lcd::test
