#include "png_panel.h"

#include "panel_look.h"

namespace lcd::sim {

std::vector<std::uint8_t> scaled_panel(const Panel &panel, unsigned scale, std::string &why) {
    std::vector<std::uint8_t> lit;
    if (scale < MIN_SCALE || scale > MAX_SCALE) {
        why = "scale out of range";
        return lit;
    }
    const std::size_t width = PANEL_COLUMNS * scale, height = PANEL_ROWS * scale;
    lit.resize(width * height);
    for (std::size_t y = 0; y < height; ++y) {
        const std::size_t row = y / scale;
        for (std::size_t x = 0; x < width; ++x)
            lit[y * width + x] = panel_pixel(panel, x / scale, row) ? 1 : 0;
    }
    return lit;
}

std::size_t panel_picture_scale(std::size_t width, std::size_t height, std::string &why) {
    const std::size_t scale = width / PANEL_COLUMNS;
    const std::string size = "size " + std::to_string(width) + "x" + std::to_string(height);
    if (scale == 0 || width != PANEL_COLUMNS * scale || height != PANEL_ROWS * scale) {
        why = "not a 640x480 panel picture (" + size + ")";
        return 0;
    }
    // Larger ones would take their size in memory to read, from a header of a few bytes.
    if (scale > MAX_SCALE) {
        why = "larger than a panel picture (" + size + "; lcdsim writes them up to " +
              std::to_string(PANEL_COLUMNS * MAX_SCALE) + "x" +
              std::to_string(PANEL_ROWS * MAX_SCALE) + ")";
        return 0;
    }
    return scale;
}

void panel_from_grey(const std::uint8_t *grey, std::size_t width, std::size_t scale, Panel &panel) {
    panel.fill(0);
    for (std::size_t y = 0; y < PANEL_ROWS; ++y)
        for (std::size_t x = 0; x < PANEL_COLUMNS; ++x)
            if (grey[y * scale * width + x * scale] < 128)
                panel[y * PANEL_ROW_BYTES + x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
}

} // namespace lcd::sim
