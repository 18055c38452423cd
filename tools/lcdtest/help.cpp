// lcdtest's help: the same on both platforms but for the words that name the platform's own
// files and ports (platform.h).
#include "platform.h"

namespace lcd::tool {
namespace {

// Every line within 80 columns, and short of them: a Windows console 80 wide starts a new
// line after a line that fills it.
constexpr const char ABOUT[] = R"(

When the port cannot be set up, lcdtest says why, in the system's words: no
such port (with the ports there are), in use by another program, not a serial
port, or settings the port refused. When the line does not take a frame
(nothing reads at the far end within a second, or the adapter went away),
lcdtest says so and stops.

Without IMAGE it hands over the built-in test pattern: a border round the
panel, each quadrant's number, checkerboards with cells of 1, 2, 4 and 8
pixels, and a dithered grey ramp.

IMAGE: PNG, BMP, PBM (P1 and P4), binary PGM/PPM (8-bit samples), JPEG, GIF
(its first frame) or TGA; a file cut short or broken is refused, and so is any
size but these two. A 640x480 picture is cut into its four quadrants and
handed over in the order 0, 1, 2, 3; a 320x240 picture goes to one quadrant
(--quadrant). Dark pixels light up. Colour and grey are reduced to one bit per
pixel by a threshold or by Floyd-Steinberg error diffusion (--dither).

Marker pixels: the driver reads the quadrant from pixels x=1..4 of row 0 of
each 320x240 image, so lcdtest overwrites those four pixels of every quadrant
image (markers 1..q lit for quadrant q, the rest off). They show on the panel:
in quadrant q's top-left corner, pixels 1..q of the top row are lit, the next
off.

Same quadrant twice: the driver skips an image for the quadrant it sent last.
Each lcdtest run loads the driver afresh, so every run draws its quadrants. A
host that keeps the driver loaded and sends the same quadrant twice in a row
sees the second image dropped, until an image for another quadrant goes
between.

Options:
  --quadrant N     quadrant for a 320x240 picture: 0 top-left (default),
                   1 top-right, 2 bottom-left, 3 bottom-right
  --dither         Floyd-Steinberg instead of a threshold (for a picture)
  --threshold N    grey level below which a pixel lights up (1..255, default
                   128; for a picture, not with --dither)
  --setting HEX    a setting byte (00..FF) that rides behind the first frame
)";

constexpr const char EXIT_STATUS[] = R"(
  -h, --help, -?   this text (also /? on Windows)
  --version        the version of lcdtest

Exit status:
  0  every image handed to the driver and taken by the line
  1  usage
  2  the picture or the driver could not be loaded
  3  the port could not be set up
  4  the port opened, but the line did not take the bytes or went away

Examples:
)";

} // namespace

std::string help_text() {
    return std::string("usage: ") + PLATFORM.command +
           " PORT [IMAGE] [options]\n\nLoads the display driver, " + PLATFORM.driver_file +
           ", as the host application does,\nsets up PORT and hands the driver a picture. " +
           PLATFORM.port + ABOUT + PLATFORM.driver_option + EXIT_STATUS + PLATFORM.examples;
}

} // namespace lcd::tool
