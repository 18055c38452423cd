// How the panel looks, the same in the PNG and in the window: a pale panel with dark dots, as
// the glass shows them, each panel pixel drawn as scale x scale.
#pragma once

#include <cstdint>

namespace lcd::sim {

struct Rgb {
    std::uint8_t r, g, b;
};
inline constexpr Rgb PANEL_OFF = {0xD6, 0xE2, 0xC6};
inline constexpr Rgb PANEL_LIT = {0x1C, 0x24, 0x30};

inline constexpr unsigned MIN_SCALE = 1;
inline constexpr unsigned MAX_SCALE = 8;

} // namespace lcd::sim
