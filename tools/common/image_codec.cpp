// stb's implementation, compiled here only, with the readers the tools offer and no others.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wsign-conversion"
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wcast-align"
#pragma GCC diagnostic ignored "-Wnull-dereference"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#define STBI_ONLY_TGA
#define STBI_ONLY_PNM
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#define STBI_FAILURE_USERMSG
#include "image_codec.h"
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace lcd::tool {
namespace {

void append(void *context, void *data, int size) {
    auto *out = static_cast<std::vector<std::uint8_t> *>(context);
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    out->insert(out->end(), bytes, bytes + size);
}

} // namespace

std::vector<std::uint8_t> png_file_bytes(const std::uint8_t *pixels, std::size_t width,
                                         std::size_t height, int channels) {
    std::vector<std::uint8_t> png;
    // An empty picture makes no PNG. (A stride of 0: rows one after another.)
    if (width == 0 || height == 0 || channels < 1 || channels > 4 ||
        !stbi_write_png_to_func(append, &png, static_cast<int>(width), static_cast<int>(height),
                                channels, pixels, 0))
        png.clear();
    return png;
}

} // namespace lcd::tool
