// The panel as a picture: written as a two-colour PNG (palette, 1 bit per pixel), read back
// from any PNG of 640x480 (or a whole multiple of it) for comparisons.
#pragma once

#include "panel_decoder.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lcd::sim {

// Writes `panel` to `path` with each pixel drawn as scale x scale: lit pixels dark on a light
// background. Writes a temporary file beside `path` and renames it over `path`, so a reader
// sees the old picture or the new one, never part of one. On failure returns false with the
// reason in `why` and leaves `path` as it was.
bool write_panel_png(const Panel &panel, unsigned scale, const std::string &path, std::string &why);

// Whether a picture can be written to `path` (its directory takes a new file, and it is no
// directory itself); if not, the reason in `why`.
bool can_write_panel_png(const std::string &path, std::string &why);

// Reads a panel picture: a PNG whose size is 640x480 times a whole scale up to MAX_SCALE; a
// pixel is lit when the sample at the top-left of its square is darker than mid-grey.
bool read_panel_png(const std::string &path, Panel &panel, std::string &why);

// What both backends share (png_panel.cpp). The panel at `scale`, a byte a pixel (1 lit, 0
// off); empty, with the reason, for a scale out of range.
std::vector<std::uint8_t> scaled_panel(const Panel &panel, unsigned scale, std::string &why);
// The scale of a picture of `width` x `height`, told before it is decoded; 0, with the reason,
// when it is no panel picture.
std::size_t panel_picture_scale(std::size_t width, std::size_t height, std::string &why);
// `panel` from such a picture's grey samples, rows one after another.
void panel_from_grey(const std::uint8_t *grey, std::size_t width, std::size_t scale, Panel &panel);

} // namespace lcd::sim
