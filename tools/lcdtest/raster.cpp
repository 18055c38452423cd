#include "raster.h"

#include <algorithm>

namespace lcd::tool {

MonoImage threshold(const GreyImage &grey, std::uint8_t level) {
    MonoImage out{grey.width, grey.height, std::vector<std::uint8_t>(grey.pixels.size())};
    for (std::size_t i = 0; i < grey.pixels.size(); ++i)
        out.pixels[i] = grey.pixels[i] < level ? 1 : 0;
    return out;
}

MonoImage dither(const GreyImage &grey) {
    const std::size_t w = grey.width;
    MonoImage out{w, grey.height, std::vector<std::uint8_t>(grey.pixels.size())};
    // Errors in 1/16ths, kept for this row and the next.
    std::vector<int> current(w + 2, 0), next(w + 2, 0);
    for (std::size_t y = 0; y < grey.height; ++y) {
        std::fill(next.begin(), next.end(), 0);
        for (std::size_t x = 0; x < w; ++x) {
            const int value = grey.pixels[y * w + x] * 16 + current[x + 1];
            const bool lit = value < 128 * 16;
            out.pixels[y * w + x] = lit ? 1 : 0;
            const int error = value - (lit ? 0 : 255 * 16);
            current[x + 2] += error * 7 / 16;
            next[x] += error * 3 / 16;
            next[x + 1] += error * 5 / 16;
            next[x + 2] += error * 1 / 16;
        }
        std::swap(current, next);
    }
    return out;
}

MonoImage cut_quadrant(const MonoImage &panel, int q) {
    MonoImage out{IMAGE_WIDTH, IMAGE_HEIGHT, std::vector<std::uint8_t>(IMAGE_WIDTH * IMAGE_HEIGHT)};
    const std::size_t x0 = (q & 1) ? IMAGE_WIDTH : 0;
    const std::size_t y0 = (q & 2) ? IMAGE_HEIGHT : 0;
    for (std::size_t y = 0; y < IMAGE_HEIGHT; ++y)
        std::copy_n(panel.pixels.begin() + static_cast<std::ptrdiff_t>((y0 + y) * panel.width + x0),
                    IMAGE_WIDTH, out.pixels.begin() + static_cast<std::ptrdiff_t>(y * IMAGE_WIDTH));
    return out;
}

void set_markers(MonoImage &image, int q) {
    for (int m = 1; m <= 4; ++m)
        image.pixels[static_cast<std::size_t>(m)] = m <= q ? 1 : 0;
}

namespace {

// Digits 0..3 in a 5x7 font, one row per byte, bit 4 leftmost.
constexpr std::uint8_t DIGITS[4][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
};

void fill(MonoImage &m, std::size_t x0, std::size_t y0, std::size_t w, std::size_t h) {
    for (std::size_t y = y0; y < y0 + h; ++y)
        std::fill_n(m.pixels.begin() + static_cast<std::ptrdiff_t>(y * m.width + x0), w,
                    std::uint8_t{1});
}

} // namespace

MonoImage test_pattern() {
    MonoImage m{PANEL_WIDTH, PANEL_HEIGHT, std::vector<std::uint8_t>(PANEL_WIDTH * PANEL_HEIGHT)};
    // Border: two pixels round the whole panel.
    fill(m, 0, 0, PANEL_WIDTH, 2);
    fill(m, 0, PANEL_HEIGHT - 2, PANEL_WIDTH, 2);
    fill(m, 0, 0, 2, PANEL_HEIGHT);
    fill(m, PANEL_WIDTH - 2, 0, 2, PANEL_HEIGHT);

    // The ramp: white to black across a quadrant, dithered.
    GreyImage ramp{280, 40, std::vector<std::uint8_t>(280 * 40)};
    for (std::size_t y = 0; y < ramp.height; ++y)
        for (std::size_t x = 0; x < ramp.width; ++x)
            ramp.pixels[y * ramp.width + x] = static_cast<std::uint8_t>(255 - x * 255 / 279);
    const MonoImage ramp_bits = dither(ramp);

    for (int q = 0; q < 4; ++q) {
        const std::size_t qx = (q & 1) ? IMAGE_WIDTH : 0;
        const std::size_t qy = (q & 2) ? IMAGE_HEIGHT : 0;
        // The quadrant's number, 5x7 cells of 12 pixels.
        constexpr std::size_t CELL = 12;
        for (std::size_t r = 0; r < 7; ++r)
            for (std::size_t c = 0; c < 5; ++c)
                if (DIGITS[q][r] & (0x10u >> c))
                    fill(m, qx + 30 + c * CELL, qy + 24 + r * CELL, CELL, CELL);
        // Checkerboard of 128x128 with cells of 1 << q pixels.
        const std::size_t cell = std::size_t{1} << q;
        for (std::size_t y = 0; y < 128; ++y)
            for (std::size_t x = 0; x < 128; ++x)
                m.pixels[(qy + 20 + y) * PANEL_WIDTH + qx + 160 + x] =
                    static_cast<std::uint8_t>(((x / cell) + (y / cell)) & 1u);
        // The ramp along the bottom.
        for (std::size_t y = 0; y < ramp.height; ++y)
            std::copy_n(ramp_bits.pixels.begin() + static_cast<std::ptrdiff_t>(y * ramp.width),
                        ramp.width,
                        m.pixels.begin() +
                            static_cast<std::ptrdiff_t>((qy + 180 + y) * PANEL_WIDTH + qx + 20));
    }
    return m;
}

} // namespace lcd::tool
