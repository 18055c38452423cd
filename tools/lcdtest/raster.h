// Pictures for the panel, made ready for the driver: greyscale to one bit per pixel, a panel
// picture cut into its four quadrant images, the marker pixels, and the built-in test pattern.
// Pure code, no I/O: shared by lcdtest on both platforms and its tests.
#pragma once

#include "protocol/protocol.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lcd::tool {

// A quadrant's picture is one host image (IMAGE_WIDTH x IMAGE_HEIGHT), the whole picture the
// panel (PANEL_WIDTH x PANEL_HEIGHT).

// An 8-bit greyscale picture, 0 black .. 255 white, row stride = width.
struct GreyImage {
    std::size_t width = 0;
    std::size_t height = 0;
    std::vector<std::uint8_t> pixels;
    // The images in the file it came from (an animated GIF's frames); the first is read.
    std::size_t frames = 1;
};

// One byte per pixel, 1 = lit (shown dark on the panel), 0 = off; row stride = width.
struct MonoImage {
    std::size_t width = 0;
    std::size_t height = 0;
    std::vector<std::uint8_t> pixels;
};

// Dark pixels become lit: a pixel is lit when its grey level is below `threshold`.
MonoImage threshold(const GreyImage &grey, std::uint8_t threshold = 128);
// Floyd-Steinberg error diffusion (left to right on every row): keeps grey levels as the
// density of lit pixels.
MonoImage dither(const GreyImage &grey);

// The 320x240 image of quadrant `q` (0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right)
// cut from a 640x480 picture.
MonoImage cut_quadrant(const MonoImage &panel, int q);

// Sets the marker pixels x = 1..4 of row 0 so the driver puts the image on quadrant `q`:
// markers 1..q lit, the rest off (the first marker that is 0 picks the quadrant).
void set_markers(MonoImage &quadrant_image, int q);

// The built-in test pattern, 640x480: a border round the panel, each quadrant's number, a
// checkerboard (cells of 1, 2, 4 and 8 pixels in quadrants 0..3) and a dithered grey ramp.
MonoImage test_pattern();

} // namespace lcd::tool
