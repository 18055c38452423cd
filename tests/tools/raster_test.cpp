// Picture preparation in lcdtest: reduction to one bit, quadrants, markers, PBM reading, and
// the loader refusing what is cut short or not of the panel's size.
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

using Bytes = std::vector<std::uint8_t>;

Bytes bytes(const std::string &text) {
    return Bytes(text.begin(), text.end());
}

void put_le(Bytes &b, std::uint32_t v, int n) {
    for (int k = 0; k < n; ++k)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
}

// An 8x8 24-bit BMP, a grey TGA (type 3) and its run-length form (type 11): 8 runs of 8.
Bytes bmp_8x8() {
    Bytes b = bytes("BM");
    put_le(b, 54 + 8 * 24, 4);
    put_le(b, 0, 4);
    put_le(b, 54, 4);
    for (const std::uint32_t v : {40u, 8u, 8u})
        put_le(b, v, 4);
    put_le(b, 1, 2);
    put_le(b, 24, 2);
    for (int k = 0; k < 6; ++k)
        put_le(b, 0, 4);
    b.resize(b.size() + 8 * 24, 0x80);
    return b;
}

Bytes tga_8x8(bool rle) {
    Bytes b{0, 0, static_cast<std::uint8_t>(rle ? 11 : 3), 0, 0, 0, 0, 0, 0, 0, 0, 0};
    put_le(b, 8, 2);
    put_le(b, 8, 2);
    b.push_back(8);
    b.push_back(0);
    for (int row = 0; row < 8; ++row) {
        if (rle) {
            b.push_back(0x80 | 7);
            b.push_back(static_cast<std::uint8_t>(row * 30));
        } else {
            b.resize(b.size() + 8, static_cast<std::uint8_t>(row * 30));
        }
    }
    return b;
}

struct PictureCase {
    const char *name;
    Bytes file;
};

// Every format the loader takes, whole and cut short. A whole 8x8 file gets as far as the size
// check; every cut of it is refused as cut short, before the image library sees it.
TEST(PictureFiles, CutShortFilesAreRefusedAndOnlyThePanelsSizesRead) {
    const std::vector<PictureCase> cases = {
        {"PNG", bytes(std::string("\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52"
                                  "\x00\x00\x00\x08\x00\x00\x00\x08\x04\x00\x00\x00\x00\x24\x94\x0c"
                                  "\x56\x00\x00\x00\x0e\x49\x44\x41\x54\x08\xd7\x63\x98\x09\x04\x0c"
                                  "\x84\x09\x00\x7e\xb7\x13\x21\x9f\x8d\x39\x76\x00\x00\x00\x00\x49"
                                  "\x45\x4e\x44\xae\x42\x60\x82",
                                  71))},
        {"JPEG",
         bytes(std::string(
             "\xff\xd8\xff\xe0\x00\x10\x4a\x46\x49\x46\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00"
             "\xff\xdb\x00\x43\x00\x10\x0b\x0c\x0e\x0c\x0a\x10\x0e\x0d\x0e\x12\x11\x10\x13\x18"
             "\x28\x1a\x18\x16\x16\x18\x31\x23\x25\x1d\x28\x3a\x33\x3d\x3c\x39\x33\x38\x37\x40"
             "\x48\x5c\x4e\x40\x44\x57\x45\x37\x38\x50\x6d\x51\x57\x5f\x62\x67\x68\x67\x3e\x4d"
             "\x71\x79\x70\x64\x78\x5c\x65\x67\x63\xff\xc0\x00\x0b\x08\x00\x08\x00\x08\x01\x01"
             "\x11\x00\xff\xc4\x00\x14\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
             "\x00\x00\x00\x04\xff\xc4\x00\x14\x10\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
             "\x00\x00\x00\x00\x00\x00\xff\xda\x00\x08\x01\x01\x00\x00\x3f\x00\x6b\xff\xd9",
             159))},
        {"GIF",
         bytes(std::string("\x47\x49\x46\x38\x39\x61\x08\x00\x08\x00\xf0\x00\x00\x99\x99\x99"
                           "\x00\x00\x00\x21\xf9\x04\x00\x00\x00\x00\x00\x2c\x00\x00\x00\x00"
                           "\x08\x00\x08\x00\x00\x02\x07\x84\x8f\xa9\xcb\xed\x5d\x00\x00\x3b",
                           48))},
        {"BMP", bmp_8x8()},
        {"TGA", tga_8x8(false)},
        {"TGA, run-length", tga_8x8(true)},
        {"PGM",
         [] {
             Bytes b = bytes("P5 8 8 255\n");
             b.resize(b.size() + 64, 0x40);
             return b;
         }()},
        {"PPM, 16-bit samples",
         [] {
             Bytes b = bytes("P6\n# two bytes a sample\n8 8\n65535\n");
             b.resize(b.size() + 8 * 8 * 3 * 2, 0x40);
             return b;
         }()},
    };
    for (const PictureCase &c : cases) {
        SCOPED_TRACE(c.name);
        GreyImage out;
        std::string why;
        EXPECT_FALSE(lcd::tool::decode_grey(c.file.data(), c.file.size(), out, why));
        EXPECT_NE(why.find("the picture is 8x8; the panel takes 640x480 or 320x240"),
                  std::string::npos)
            << why;
        for (const std::size_t cut : {c.file.size() - 1, c.file.size() / 2, std::size_t{20}}) {
            why.clear();
            EXPECT_FALSE(lcd::tool::decode_grey(c.file.data(), cut, out, why));
            EXPECT_TRUE(why.find("cut short") != std::string::npos ||
                        why.find("too short") != std::string::npos)
                << cut << " bytes: " << why;
        }
    }
    GreyImage out;
    std::string why;
    // A changed byte: PNG's chunk CRC tells.
    Bytes png = cases[0].file;
    png[45] ^= 0x10;
    EXPECT_FALSE(lcd::tool::decode_grey(png.data(), png.size(), out, why));
    EXPECT_NE(why.find("chunk IDAT at offset 33 fails its CRC check"), std::string::npos) << why;
    // 10000x10000, refused from the header: the pixels are never decoded.
    Bytes huge = bytes("GIF89a");
    for (const std::uint32_t v : {10000u, 10000u})
        put_le(huge, v, 2);
    huge.insert(huge.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255, 0x2c, 0, 0, 0, 0});
    for (const std::uint32_t v : {10000u, 10000u})
        put_le(huge, v, 2);
    huge.insert(huge.end(), {0, 2, 2, 0x4c, 0x01, 0, 0x3b}); // a two-colour table, LZW data
    EXPECT_FALSE(lcd::tool::decode_grey(huge.data(), huge.size(), out, why));
    EXPECT_NE(why.find("the picture is 10000x10000"), std::string::npos) << why;
    // 16-bit PGM samples: refused, not read past the file.
    Bytes deep = bytes("P5 " + std::to_string(lcd::IMAGE_WIDTH) + " " +
                       std::to_string(lcd::IMAGE_HEIGHT) + " 65535\n");
    deep.resize(deep.size() + 2 * lcd::IMAGE_SIZE, 0x40);
    EXPECT_FALSE(lcd::tool::decode_grey(deep.data(), deep.size(), out, why));
    EXPECT_NE(why.find("16-bit PGM/PPM samples are not read"), std::string::npos) << why;
    // The quadrant's size is read, grey as it is.
    Bytes quadrant = bytes("P5 " + std::to_string(lcd::IMAGE_WIDTH) + " " +
                           std::to_string(lcd::IMAGE_HEIGHT) + " 255\n");
    quadrant.resize(quadrant.size() + lcd::IMAGE_SIZE, 77);
    ASSERT_TRUE(lcd::tool::decode_grey(quadrant.data(), quadrant.size(), out, why)) << why;
    EXPECT_EQ(out.width, lcd::IMAGE_WIDTH);
    EXPECT_EQ(out.pixels, std::vector<std::uint8_t>(lcd::IMAGE_SIZE, 77));
}

// A 320x240 GIF of `frames` one-pixel images, as an animation is stored.
Bytes gif_frames(int frames) {
    Bytes b = bytes("GIF89a");
    put_le(b, lcd::IMAGE_WIDTH, 2);
    put_le(b, lcd::IMAGE_HEIGHT, 2);
    b.insert(b.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255}); // a two-colour table
    for (int f = 0; f < frames; ++f) {
        b.insert(b.end(), {0x2c, 0, 0, 0, 0, 1, 0, 1, 0, 0});
        b.insert(b.end(), {2, 2, 0x44, 0x01, 0}); // LZW: clear, a black pixel, end
    }
    b.push_back(0x3b);
    return b;
}

// What the loader says of files it does not read, and of an animation it reads the start of.
TEST(PictureFiles, FormatsNotReadAreNamedAndAnimationsNoted) {
    const std::vector<std::pair<Bytes, std::string>> refused = {
        {bytes(std::string("II*\0\x08\0\0\0", 8)), "TIFF is not read; lcdtest reads PNG, BMP"},
        {bytes(std::string("MM\0*\0\0\0\x08\0\0\0\0\0\0\0\0\0\0\0\0", 20)), "TIFF is not read"},
        {bytes(std::string("RIFF\x24\0\0\0WEBPVP8 \x18\0\0\0", 20)), "WebP is not read"},
        {bytes("P2 2 1 255 0 255\n"), "plain (text) PGM is not read"},
        {bytes("a text file, long enough to pass for a picture's header\n"),
         "not a picture lcdtest reads (or a damaged one); lcdtest reads PNG, BMP, PBM, binary "
         "PGM/PPM, JPEG, GIF and TGA"},
    };
    for (const auto &[file, message] : refused) {
        GreyImage out;
        std::string why;
        EXPECT_FALSE(lcd::tool::decode_grey(file.data(), file.size(), out, why));
        EXPECT_NE(why.find(message), std::string::npos) << why;
    }
    for (const int frames : {1, 3}) {
        const Bytes gif = gif_frames(frames);
        GreyImage out;
        std::string why;
        ASSERT_TRUE(lcd::tool::decode_grey(gif.data(), gif.size(), out, why)) << why;
        EXPECT_EQ(out.frames, static_cast<std::size_t>(frames));
        EXPECT_EQ(out.pixels[0], 0);   // the first frame's one pixel
        EXPECT_EQ(out.pixels[1], 255); // the canvas around it
    }
    GreyImage out;
    std::string why;
    EXPECT_FALSE(lcd::tool::load_grey("/nonexistent/picture.png", out, why));
    EXPECT_EQ(why, "there is no such file");
    EXPECT_FALSE(lcd::tool::load_grey(::testing::TempDir(), out, why));
    EXPECT_EQ(why, "it is a directory");
}

} // namespace
