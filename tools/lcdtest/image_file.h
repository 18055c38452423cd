// Reading pictures for lcdtest. PNG, BMP, JPEG, GIF, TGA and binary PGM/PPM (P5/P6) go through
// stb_image (Debian's libstb), after picture_complete has checked that the file holds all the
// picture; PBM, which stb_image does not read, through pbm_decode below: both forms of the
// format (P1 plain, P4 raw), checked against the bytes actually present. Only the two sizes
// the panel takes are accepted, and the size is read before anything is decoded.
#pragma once

#include "raster.h"

#include <string>

namespace lcd::tool {

// Largest PBM side read at all (the size check refuses anything but the panel's sizes).
inline constexpr std::size_t MAX_IMAGE_SIDE = 16384;

// Loads `path` (UTF-8) as greyscale (transparent areas count as white). On failure returns
// false with a reason in `why`.
bool load_grey(const std::string &path, GreyImage &out, std::string &why);

// The same for a file's bytes held in memory.
bool decode_grey(const std::uint8_t *data, std::size_t size, GreyImage &out, std::string &why);

// Decodes a PBM held in memory: black (1) becomes grey 0, white (0) grey 255.
bool pbm_decode(const std::uint8_t *data, std::size_t size, GreyImage &out, std::string &why);

} // namespace lcd::tool
