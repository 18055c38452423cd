// Debian's stb (stb_image, stb_image_write), built once for the tools: lcdtest reads pictures
// with it, lcdsim.exe writes and reads its panel PNGs, the tests read and write their
// screenshots. Everything goes through memory (the callers open files by their own means, by
// wide names on Windows). Readers: PNG, JPEG, BMP, GIF, TGA, binary PGM/PPM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#define STBI_NO_STDIO
#define STBI_WRITE_NO_STDIO
#include <stb_image.h>
#include <stb_image_write.h>

namespace lcd::tool {

// What stb_image says of bytes none of its readers takes.
inline constexpr char STB_UNKNOWN_TYPE[] = "Image not of any known type, or corrupt";

// The first bytes of every PNG file.
inline constexpr std::uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// A PNG file's bytes for `pixels`: 8-bit samples, `channels` of them a pixel (1 grey, 3 RGB),
// rows one after another. Empty when it could not be made.
std::vector<std::uint8_t> png_file_bytes(const std::uint8_t *pixels, std::size_t width,
                                         std::size_t height, int channels);

} // namespace lcd::tool
