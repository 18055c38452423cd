// The encoder's bytes, case by case and against the reference encoder. Run on the vector
// path and again on the portable one (lcd_scalar_encoder_tests).
#include "protocol/frame_encoder.h"
#include "support/reference_encoder.h"

#include <gtest/gtest.h>

#include <random>

namespace lcd {
namespace {

using test::blank_image;
using test::Image;
using test::reference_frame;
using Bytes = std::vector<std::uint8_t>;

Bytes encode(const Image &image, int quadrant) {
    Bytes out(FRAME_MAX_SIZE);
    out.resize(encode_line_records(image.data(), quadrant, out.data()));
    return out;
}

Bytes slice(const Bytes &b, std::size_t from, std::size_t n) {
    return {b.begin() + static_cast<std::ptrdiff_t>(from),
            b.begin() + static_cast<std::ptrdiff_t>(from + n)};
}

TEST(SelectQuadrant, FirstClearMarkerWins) {
    struct Case {
        std::uint8_t markers[4];
        std::int32_t quadrant;
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, 0},           {{1, 0, 0, 0}, 1},
        {{1, 0, 1, 1}, 1},           {{1, 1, 0, 0}, 2},
        {{1, 1, 1, 0}, 3},           {{200, 7, 0xFF, 0}, 3},
        {{1, 1, 1, 1}, NO_QUADRANT}, {{2, 0x80, 9, 0xFF}, NO_QUADRANT},
    };
    for (const Case &c : cases) {
        Image image = blank_image();
        std::copy(std::begin(c.markers), std::end(c.markers), image.begin() + 1);
        EXPECT_EQ(select_quadrant(image.data()), c.quadrant)
            << int(c.markers[0]) << ' ' << int(c.markers[1]) << ' ' << int(c.markers[2]) << ' '
            << int(c.markers[3]);
    }
}

TEST(EncodeLineRecords, TopRightFrameByteExact) {
    Image image = blank_image();
    image[1] = 1; // only nonzero pixel: quadrant 1
    const Bytes frame = encode(image, select_quadrant(image.data()));
    ASSERT_EQ(frame.size(), 10'561u);

    Bytes first = {0x0E, 0x01, 0x00, 0x28, 0b0100'0000};
    first.resize(44, 0x00);
    EXPECT_EQ(slice(frame, 0, 44), first);
    // Row 14's line byte is the escape byte itself.
    EXPECT_EQ(slice(frame, 14 * 44, 5), (Bytes{0x0E, 0x01, 0x0E, 0x0E, 0x28}));
    EXPECT_EQ(slice(frame, frame.size() - 44, 4), (Bytes{0x0E, 0x01, 0xEF, 0x28}));
}

TEST(EncodeLineRecords, BottomRightAddressesAndMarkerBits) {
    Image image = blank_image();
    image[1] = image[2] = image[3] = 1; // quadrant 3
    ASSERT_EQ(select_quadrant(image.data()), QUADRANT_BOTTOM_RIGHT);
    const Bytes frame = encode(image, QUADRANT_BOTTOM_RIGHT);
    ASSERT_EQ(frame.size(), 10'561u);
    EXPECT_EQ(slice(frame, 0, 5), (Bytes{0x0E, 0x01, 0x00, 0xA8, 0b0111'0000}));
    EXPECT_EQ(slice(frame, 14 * 44, 5), (Bytes{0x0E, 0x01, 0x0E, 0x0E, 0xA8}));
    EXPECT_EQ(slice(frame, 15 * 44 + 1, 4), (Bytes{0x0E, 0x01, 0x0F, 0xA8}));
}

TEST(EncodeLineRecords, PackingAndWrapping) {
    struct Case {
        const char *name;
        std::uint8_t pixels[8];
        Bytes wire; // the group's bytes as sent
    };
    const Case cases[] = {
        {"msb first", {1, 0, 0, 0, 0, 0, 0, 1}, {0b1000'0001}},
        {"packs to the escape byte", {0, 0, 0, 0, 1, 1, 1, 0}, {0x0E, 0x0E}},
        {"2 on the left wraps away", {2, 0, 0, 0, 0, 0, 0, 0}, {0x00}},
        {"3 on the right sets two bits", {0, 0, 0, 0, 0, 0, 0, 3}, {0b0000'0011}},
        {"carries ripple", {0, 0, 0, 0, 0, 0, 1, 2}, {0b0000'0100}},
        {"all 0xFF", {255, 255, 255, 255, 255, 255, 255, 255}, {0x01}},
    };
    for (const Case &c : cases) {
        Image image = blank_image();
        std::copy(std::begin(c.pixels), std::end(c.pixels), image.begin() + 40 * IMAGE_WIDTH + 8);
        const Bytes frame = encode(image, QUADRANT_TOP_LEFT);
        // Row 40 starts after 40 records, one of them (row 14) a byte longer; group 1 of it.
        EXPECT_EQ(slice(frame, 40 * 44 + 1 + 4 + 1, c.wire.size()), c.wire) << c.name;
        EXPECT_EQ(frame, reference_frame(image, QUADRANT_TOP_LEFT)) << c.name;
    }
}

TEST(EncodeLineRecords, WorstCaseEveryPixelByteEscaped) {
    const Image image = test::escape_image();
    const Bytes frame = encode(image, QUADRANT_TOP_LEFT);
    EXPECT_EQ(frame.size() + SETTING_TRAILER_SIZE, FRAME_MAX_SIZE);
    EXPECT_EQ(frame, reference_frame(image, QUADRANT_TOP_LEFT));
}

// The fast paths (0/1 rows, rows with any byte values, rows mixing both) against the plain
// pixel-by-pixel encoder, on every quadrant.
TEST(EncodeLineRecords, MatchesReferenceOnRandomImages) {
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 24; ++round) {
        Image image = blank_image();
        const int kind = round % 3;
        for (std::size_t y = 0; y < IMAGE_HEIGHT; ++y) {
            const bool binary_row = kind == 0 || (kind == 2 && (y % 3) != 0);
            for (std::size_t x = 0; x < IMAGE_WIDTH; ++x) {
                const int v = byte(rng);
                image[y * IMAGE_WIDTH + x] = static_cast<std::uint8_t>(binary_row ? (v & 1) : v);
            }
        }
        const int quadrant = round % 4;
        EXPECT_EQ(encode(image, quadrant), reference_frame(image, quadrant)) << "round " << round;
    }
}

// A 0/1 image with one byte above 1 somewhere in a row: the row must leave the 0/1 path
// wherever in its 128-pixel blocks the byte sits, and the rows around it must stay on it.
TEST(EncodeLineRecords, OneByteAboveOneAnywhereInARow) {
    std::mt19937 rng(7);
    Image image = blank_image();
    for (auto &p : image)
        p = static_cast<std::uint8_t>(rng() & 1u);
    image[1] = 0;
    const std::size_t columns[] = {0, 7, 8, 127, 128, 200, 255, 256, 263, 311, 319};
    const std::uint8_t values[] = {2, 3, 0x0E, 0x80, 0xFF};
    std::size_t row = 1;
    for (const std::size_t x : columns) {
        for (const std::uint8_t v : values) {
            image[row * IMAGE_WIDTH + x] = v;
            row += 2;
        }
    }
    for (int quadrant = 0; quadrant < 4; ++quadrant)
        EXPECT_EQ(encode(image, quadrant), reference_frame(image, quadrant)) << quadrant;
}

// Rows whose packed bytes are the escape byte at every position, first and last included, and
// rows with from one to nine of them (runs copied whole, or the row escaped byte by byte).
TEST(EncodeLineRecords, EscapeByteAtEveryGroupPosition) {
    Image image = blank_image();
    const std::size_t spread[] = {39, 0, 20, 5, 38, 1, 10, 30, 19};
    for (std::size_t y = 120; y < IMAGE_HEIGHT; ++y) {
        for (std::size_t k = 0; k <= y % 9; ++k)
            test::set_escape_group(&image[y * IMAGE_WIDTH + 8 * spread[k]]);
    }
    for (std::size_t y = 0; y < 120; ++y) {
        const std::size_t g = y % ROW_PIXEL_BYTES;
        std::uint8_t *group = image.data() + y * IMAGE_WIDTH + 8 * g;
        if (y % 3 == 0) {
            test::set_escape_group(group); // 0x0E from 0/1 pixels
        } else {
            group[7] = 0x0E; // 0x0E from one grey pixel
        }
    }
    image[1] = 0;
    EXPECT_EQ(encode(image, QUADRANT_BOTTOM_LEFT), reference_frame(image, QUADRANT_BOTTOM_LEFT));
}

} // namespace
} // namespace lcd
