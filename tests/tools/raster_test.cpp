// Picture preparation in lcdtest: reduction to one bit, quadrants, markers and PBM reading.
#include "image_file.h"
#include "protocol/frame_encoder.h"
#include "raster.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>

namespace {

using lcd::tool::GreyImage;
using lcd::tool::MonoImage;

GreyImage flat(std::size_t w, std::size_t h, std::uint8_t level) {
    return GreyImage{w, h, std::vector<std::uint8_t>(w * h, level)};
}

std::size_t lit(const MonoImage &m) {
    return static_cast<std::size_t>(std::accumulate(m.pixels.begin(), m.pixels.end(), 0));
}

TEST(Raster, ThresholdAndDitherKeepTheGreyLevel) {
    EXPECT_EQ(lit(lcd::tool::threshold(flat(8, 8, 127))), 64u);
    EXPECT_EQ(lit(lcd::tool::threshold(flat(8, 8, 128))), 0u);
    EXPECT_EQ(lit(lcd::tool::threshold(flat(8, 8, 200), 201)), 64u);
    // Error diffusion: the share of lit pixels follows darkness, black and white stay solid.
    for (const int level : {0, 32, 64, 128, 192, 255}) {
        const MonoImage m = lcd::tool::dither(flat(200, 100, static_cast<std::uint8_t>(level)));
        const double share = static_cast<double>(lit(m)) / 20000.0;
        EXPECT_NEAR(share, 1.0 - level / 255.0, 0.02) << "level " << level;
    }
}

TEST(Raster, QuadrantsAndMarkersReachTheDriversChoice) {
    using lcd::IMAGE_HEIGHT, lcd::IMAGE_WIDTH, lcd::PANEL_HEIGHT, lcd::PANEL_WIDTH;
    MonoImage panel{PANEL_WIDTH, PANEL_HEIGHT,
                    std::vector<std::uint8_t>(PANEL_WIDTH * PANEL_HEIGHT, 0)};
    // A distinct lit pixel at (10 + q, 20) inside each quadrant, and all of row 0 lit.
    for (int q = 0; q < 4; ++q)
        panel.pixels[((q & 2) ? IMAGE_HEIGHT : 0) * PANEL_WIDTH + 20 * PANEL_WIDTH +
                     ((q & 1) ? IMAGE_WIDTH : 0) + 10 + static_cast<unsigned>(q)] = 1;
    std::fill_n(panel.pixels.begin(), PANEL_WIDTH, std::uint8_t{1});
    for (int q = 0; q < 4; ++q) {
        MonoImage image = lcd::tool::cut_quadrant(panel, q);
        ASSERT_EQ(image.pixels.size(), lcd::IMAGE_SIZE);
        EXPECT_EQ(image.pixels[20 * IMAGE_WIDTH + 10 + static_cast<unsigned>(q)], 1) << q;
        EXPECT_EQ(lit(image), (q < 2 ? IMAGE_WIDTH + 1 : 1u)) << q;
        lcd::tool::set_markers(image, q);
        EXPECT_EQ(lcd::select_quadrant(image.pixels.data()), q);
    }
}

struct PbmCase {
    const char *name;
    std::string file;
    bool ok;
    std::size_t width, height;
    std::vector<std::uint8_t> grey;
};

TEST(Raster, PbmPlainAndRaw) {
    const std::vector<PbmCase> cases = {
        {"plain", "P1\n# comment\n3 2\n1 0 1\n0 1 0\n", true, 3, 2, {0, 255, 0, 255, 0, 255}},
        {"plain, digits run together", "P1 3 2 101010", true, 3, 2, {0, 255, 0, 255, 0, 255}},
        {"raw, row padded to a byte",
         std::string("P4\n10 2\n\xC0\x40\x00\xC0", 12),
         true,
         10,
         2,
         {0,   0,   255, 255, 255, 255, 255, 255, 255, 0,
          255, 255, 255, 255, 255, 255, 255, 255, 0,   0}},
        {"raw, data cut short", std::string("P4\n16 2\n\xFF\xFF\xFF", 11), false, 0, 0, {}},
        {"plain, data cut short", "P1 2 2 1 0 1", false, 0, 0, {}},
        {"plain, bad digit", "P1 2 1 1 2", false, 0, 0, {}},
        {"zero width", "P1 0 2", false, 0, 0, {}},
        {"huge", "P4 99999999999999999999 1\n", false, 0, 0, {}},
        {"no header", "P4", false, 0, 0, {}},
        {"not a PBM", std::string("P5 1 1 255\n\x00", 12), false, 0, 0, {}},
    };
    for (const PbmCase &c : cases) {
        SCOPED_TRACE(c.name);
        GreyImage out;
        std::string why;
        const bool ok = lcd::tool::pbm_decode(reinterpret_cast<const std::uint8_t *>(c.file.data()),
                                              c.file.size(), out, why);
        ASSERT_EQ(ok, c.ok) << why;
        if (!ok) {
            EXPECT_FALSE(why.empty());
            continue;
        }
        EXPECT_EQ(out.width, c.width);
        EXPECT_EQ(out.height, c.height);
        EXPECT_EQ(out.pixels, c.grey);
    }
}

} // namespace
