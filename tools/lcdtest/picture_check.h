// Whether a picture file holds everything its own structure promises. The image library decodes
// a file cut short as if the missing bytes were there (garbage, no error) for most formats, so
// lcdtest walks each format's structure before decoding: PNG chunks (with their CRCs) up to
// IEND, JPEG segments and scans up to the end-of-image marker, GIF blocks up to the trailer,
// and for BMP, TGA and binary PGM/PPM the pixel bytes the header's size and depth call for
// (TGA's run-length packets walked one by one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lcd::tool {

// False, with the reason in `why`, when `data` is one of the formats above and is cut short
// or broken; true otherwise (data of no format above is left to the decoder, which refuses it).
bool picture_complete(const std::uint8_t *data, std::size_t size, std::string &why);

// How many images the picture holds: an animated GIF's frames; 1 for any other picture.
std::size_t picture_frames(const std::uint8_t *data, std::size_t size);

// A decimal number of a Netpbm header at data[i], after whitespace and # comments; false when
// there is none or it exceeds `max`. Advances `i` past it.
bool read_netpbm_number(const std::uint8_t *data, std::size_t size, std::size_t &i, std::size_t max,
                        std::size_t &value);

// Skips whitespace and # comments at data[i].
void skip_netpbm_space(const std::uint8_t *data, std::size_t size, std::size_t &i);

// Netpbm's whitespace (the header ends with exactly one such byte before raw pixel data).
bool is_netpbm_space(std::uint8_t c);

} // namespace lcd::tool
