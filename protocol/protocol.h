// The controller's byte protocol: command codes, fixed sequences and wire sizes.
//
// 0x0E introduces a command. Inside a line record a literal 0x0E is doubled; command
// arguments outside line records (the setting bytes) are sent raw.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace lcd {

inline constexpr std::uint8_t ESCAPE_BYTE = 0x0E;

inline constexpr std::uint8_t CMD_LINE = 0x01; // line byte, address byte, 40 pixel bytes (escaped)
inline constexpr std::uint8_t CMD_SETTING = 0x02; // raw setting bytes
inline constexpr std::uint8_t CMD_FINISH = 0x0B;  // nothing follows

// Sent once when the port comes up: a setting of 0x50 0x03 0x00, then finish.
inline constexpr std::array<std::uint8_t, 7> INIT_SEQUENCE = {
    ESCAPE_BYTE, CMD_SETTING, 0x50, 0x03, 0x00, ESCAPE_BYTE, CMD_FINISH};

// Sent ahead of the initialisation when the stream before it was cut (a write that did not go
// out whole). The controller may have been left inside a line record, between the two bytes of
// a doubled escape, or waiting for a setting's byte; this byte is taken there as a data byte,
// as the second byte of a bad escape or as a setting byte, or is skipped as a stray byte
// between commands. In every case the escape byte that follows begins a command.
inline constexpr std::uint8_t RESYNC_BYTE = 0x00;
static_assert(RESYNC_BYTE != ESCAPE_BYTE && RESYNC_BYTE != CMD_LINE && RESYNC_BYTE != CMD_SETTING &&
              RESYNC_BYTE != CMD_FINISH);

// Sent when the driver closes the port at unload: a setting of 0x0A, then finish.
inline constexpr std::array<std::uint8_t, 5> SHUTDOWN_SEQUENCE = {ESCAPE_BYTE, CMD_SETTING, 0x0A,
                                                                  ESCAPE_BYTE, CMD_FINISH};

// Host image: 320 x 240, one byte per pixel, row stride 320.
inline constexpr std::size_t IMAGE_WIDTH = 320;
inline constexpr std::size_t IMAGE_HEIGHT = 240;
inline constexpr std::size_t IMAGE_SIZE = IMAGE_WIDTH * IMAGE_HEIGHT;

// Panel: 640 x 480 at one bit per pixel, addressed as two halves of 240 lines of 80 bytes.
inline constexpr std::size_t PANEL_WIDTH = 2 * IMAGE_WIDTH;
inline constexpr std::size_t PANEL_HEIGHT = 2 * IMAGE_HEIGHT;
inline constexpr std::size_t PANEL_LINE_BYTES = PANEL_WIDTH / 8;
inline constexpr std::size_t PANEL_HALF_LINES = IMAGE_HEIGHT;
inline constexpr std::uint8_t ADDRESS_LOWER_HALF = 0x80; // bit 7 of the address byte

// Wire sizes, built from their parts.
inline constexpr std::size_t COMMAND_SIZE = 2; // escape byte + command code
inline constexpr std::size_t ROW_PIXEL_BYTES = IMAGE_WIDTH / 8;
inline constexpr std::size_t LINE_RECORD_ARGS = 2 + ROW_PIXEL_BYTES; // line, address, pixels
inline constexpr std::size_t LINE_RECORD_MIN_SIZE = COMMAND_SIZE + LINE_RECORD_ARGS;
inline constexpr std::size_t SETTING_TRAILER_SIZE = COMMAND_SIZE + 1;

// The line byte is the row within its half (0..239); only row 14 equals the escape byte.
// The address byte is 0x00, 0x28, 0x80 or 0xA8 and never needs escaping.
inline constexpr std::size_t ESCAPED_LINE_BYTES_PER_FRAME = 1;

// Smallest frame: nothing in the pixel bytes needs escaping, no trailer (10,561 bytes).
inline constexpr std::size_t FRAME_MIN_SIZE =
    IMAGE_HEIGHT * LINE_RECORD_MIN_SIZE + ESCAPED_LINE_BYTES_PER_FRAME;
// Largest frame: every pixel byte doubled, plus a setting trailer (20,164 bytes).
inline constexpr std::size_t FRAME_MAX_SIZE =
    FRAME_MIN_SIZE + IMAGE_HEIGHT * ROW_PIXEL_BYTES + SETTING_TRAILER_SIZE;

static_assert(FRAME_MIN_SIZE == 10'561);
static_assert(FRAME_MAX_SIZE == 20'164);

} // namespace lcd
