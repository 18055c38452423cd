#include "image_file.h"
#include "file_access.h"
#include "image_codec.h"
#include "os_text.h"
#include "picture_check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace lcd::tool {
namespace {

constexpr std::size_t MAX_FILE_SIZE = 256u << 20;

// The panel takes a whole-panel picture or one quadrant's.
bool size_accepted(std::size_t width, std::size_t height, std::string &why) {
    if ((width == PANEL_WIDTH && height == PANEL_HEIGHT) ||
        (width == IMAGE_WIDTH && height == IMAGE_HEIGHT))
        return true;
    why = "the picture is " + std::to_string(width) + "x" + std::to_string(height) +
          "; the panel takes " + std::to_string(PANEL_WIDTH) + "x" + std::to_string(PANEL_HEIGHT) +
          " or " + std::to_string(IMAGE_WIDTH) + "x" + std::to_string(IMAGE_HEIGHT);
    return false;
}

// The formats the loader reads, for messages about those it does not.
constexpr const char FORMATS_READ[] =
    "lcdtest reads PNG, BMP, PBM, binary PGM/PPM, JPEG, GIF and TGA";

struct Signature {
    std::size_t offset;
    const char *bytes;
    std::size_t length;
    const char *format;
};
// Formats people try that the loader does not read, by their first bytes.
constexpr Signature UNREAD_FORMATS[] = {
    {0, "II*\0", 4, "TIFF"},
    {0, "MM\0*", 4, "TIFF"},
    {8, "WEBP", 4, "WebP"},
    {4, "ftypavif", 8, "AVIF"},
    {4, "ftypheic", 8, "HEIC"},
    {4, "ftypmif1", 8, "HEIF"},
    {0, "\xFF\x0A", 2, "JPEG XL"},
    {0, "\0\0\0\x0CJXL ", 8, "JPEG XL"},
    {0, "\0\0\0\x0CjP  ", 8, "JPEG 2000"},
    {0, "8BPS", 4, "Photoshop (PSD)"},
    {0, "qoif", 4, "QOI"},
    {0, "%PDF", 4, "PDF"},
    {0, "<svg", 4, "SVG"},
    {0, "<?xml", 5, "SVG (XML)"},
    {0, "P2", 2, "plain (text) PGM"},
    {0, "P3", 2, "plain (text) PPM"},
};

const char *unread_format(const std::uint8_t *data, std::size_t size) {
    for (const Signature &s : UNREAD_FORMATS)
        if (size >= s.offset + s.length && std::memcmp(data + s.offset, s.bytes, s.length) == 0)
            return s.format;
    return nullptr;
}

// Why a picture file could not be opened, from the C library's errno.
std::string open_problem(const std::string &path, int error) {
    switch (error) {
    case ENOENT:
        return NO_SUCH_FILE;
    case EACCES:
        if (refused_as_folder(path))
            return "it is a folder";
        return "permission denied (the file may not be read by this user)";
    default:
        return std::string("cannot open the file: ") + std::strerror(error);
    }
}

} // namespace

bool pbm_decode(const std::uint8_t *data, std::size_t size, GreyImage &out, std::string &why) {
    if (size < 2 || data[0] != 'P' || (data[1] != '1' && data[1] != '4')) {
        why = "not a PBM file (P1 or P4)";
        return false;
    }
    const bool raw = data[1] == '4';
    std::size_t i = 2, width = 0, height = 0;
    if (!read_netpbm_number(data, size, i, MAX_IMAGE_SIDE, width) ||
        !read_netpbm_number(data, size, i, MAX_IMAGE_SIDE, height) || width == 0 || height == 0) {
        why = "bad PBM header (width and height from 1 to " + std::to_string(MAX_IMAGE_SIDE) + ")";
        return false;
    }
    out.width = width;
    out.height = height;
    out.pixels.assign(width * height, 255);
    if (raw) {
        // Exactly one whitespace byte ends the header; then rows of whole bytes, MSB first.
        if (i >= size || !is_netpbm_space(data[i])) {
            why = "bad PBM header";
            return false;
        }
        ++i;
        const std::size_t row_bytes = (width + 7) / 8;
        if (size - i < row_bytes * height) {
            why = "PBM data cut short";
            return false;
        }
        for (std::size_t y = 0; y < height; ++y)
            for (std::size_t x = 0; x < width; ++x)
                if (data[i + y * row_bytes + x / 8] & (0x80u >> (x % 8)))
                    out.pixels[y * width + x] = 0;
        return true;
    }
    for (std::size_t p = 0; p < width * height; ++p) {
        skip_netpbm_space(data, size, i);
        if (i >= size) {
            why = "PBM data cut short";
            return false;
        }
        if (data[i] != '0' && data[i] != '1') {
            why = "bad PBM pixel (only 0 and 1 may appear)";
            return false;
        }
        if (data[i++] == '1')
            out.pixels[p] = 0;
    }
    return true;
}

bool load_grey(const std::string &path, GreyImage &out, std::string &why) {
    errno = 0;
    std::unique_ptr<FILE, int (*)(FILE *)> file(open_for_reading(path), &std::fclose);
    if (!file) {
        why = open_problem(path, errno);
        return false;
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (bytes.size() > MAX_FILE_SIZE) {
            why = "file too large";
            return false;
        }
    }
    if (std::ferror(file.get())) {
        why = errno == EISDIR ? "it is a directory"
                              : std::string("read error: ") + std::strerror(errno);
        return false;
    }
    return decode_grey(bytes.data(), bytes.size(), out, why);
}

bool decode_grey(const std::uint8_t *data, std::size_t size, GreyImage &out, std::string &why) {
    if (size >= 2 && data[0] == 'P' && (data[1] == '1' || data[1] == '4')) {
        std::size_t i = 2, width = 0, height = 0;
        if (read_netpbm_number(data, size, i, MAX_IMAGE_SIDE, width) &&
            read_netpbm_number(data, size, i, MAX_IMAGE_SIDE, height) &&
            !size_accepted(width, height, why))
            return false;
        return pbm_decode(data, size, out, why);
    }
    if (const char *const format = unread_format(data, size)) {
        why = std::string(format) + " is not read; " + FORMATS_READ;
        return false;
    }
    if (!picture_complete(data, size, why))
        return false;
    int w = 0, h = 0, channels = 0;
    if (size > MAX_FILE_SIZE) {
        why = "file too large";
        return false;
    }
    if (!stbi_info_from_memory(data, static_cast<int>(size), &w, &h, &channels)) {
        if (std::strcmp(stbi_failure_reason(), STB_UNKNOWN_TYPE) == 0)
            why = std::string("not a picture lcdtest reads (or a damaged one); ") + FORMATS_READ;
        else
            why = stbi_failure_reason();
        return false;
    }
    // The size before any decoding: a huge picture is refused without being unpacked.
    if (!size_accepted(static_cast<std::size_t>(w), static_cast<std::size_t>(h), why))
        return false;
    // The image library reads past its buffer when it narrows 16-bit PGM/PPM samples.
    if (data[0] == 'P' && stbi_is_16_bit_from_memory(data, static_cast<int>(size))) {
        why = "16-bit PGM/PPM samples are not read; save the picture with 8-bit samples";
        return false;
    }
    // Grey and alpha; transparent parts are laid over white.
    std::unique_ptr<stbi_uc, void (*)(void *)> pixels(
        stbi_load_from_memory(data, static_cast<int>(size), &w, &h, &channels, 2),
        &stbi_image_free);
    if (!pixels) {
        why = stbi_failure_reason();
        return false;
    }
    out.width = static_cast<std::size_t>(w);
    out.height = static_cast<std::size_t>(h);
    out.frames = picture_frames(data, size);
    out.pixels.resize(out.width * out.height);
    for (std::size_t p = 0; p < out.pixels.size(); ++p) {
        const unsigned grey = pixels.get()[2 * p], alpha = pixels.get()[2 * p + 1];
        out.pixels[p] =
            static_cast<std::uint8_t>((grey * alpha + 255u * (255u - alpha) + 127u) / 255u);
    }
    return true;
}

} // namespace lcd::tool
