#include "picture_check.h"

#include <array>
#include <cstring>

namespace lcd::tool {
namespace {

using u8 = std::uint8_t;
using u64 = std::uint64_t;

constexpr u8 PNG_SIGNATURE[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t PNG_CHUNK_OVERHEAD = 12; // length, type, CRC
constexpr u8 JPEG_MARKER = 0xFF, JPEG_SOI = 0xD8, JPEG_EOI = 0xD9, JPEG_SOS = 0xDA, JPEG_TEM = 0x01,
             JPEG_RST0 = 0xD0, JPEG_RST7 = 0xD7;
constexpr std::size_t GIF_HEADER = 13, GIF_IMAGE_DESCRIPTOR = 9;
constexpr u8 GIF_EXTENSION = 0x21, GIF_IMAGE = 0x2C, GIF_TRAILER = 0x3B;
constexpr u8 GIF_COLOUR_TABLE = 0x80, GIF_TABLE_SIZE_BITS = 0x07;
constexpr std::size_t BMP_FILE_HEADER = 14, BMP_CORE_HEADER = 12, BMP_INFO_HEADER = 40;
constexpr std::uint32_t BMP_RGB = 0, BMP_BITFIELDS = 3, BMP_ALPHABITFIELDS = 6;
constexpr std::size_t TGA_HEADER = 18;
constexpr u8 TGA_RLE = 8, TGA_RUN = 0x80, TGA_COUNT_BITS = 0x7F;
constexpr std::size_t NETPBM_MAX_SIDE = 1u << 16, NETPBM_MAX_LEVEL = 65535, NETPBM_BYTE_MAX = 255;

std::uint32_t be32(const u8 *p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}
std::uint32_t le16(const u8 *p) {
    return static_cast<std::uint32_t>(p[0] | p[1] << 8);
}
std::uint32_t le32(const u8 *p) {
    return le16(p) | le16(p + 2) << 16;
}

// PNG's CRC-32 (the same polynomial as zlib's), over a chunk's type and data.
constexpr std::array<std::uint32_t, 256> CRC_TABLE = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}();

std::uint32_t crc32(const u8 *data, std::size_t size) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i)
        c = CRC_TABLE[(c ^ data[i]) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

bool cut_short(const char *format, std::string &why) {
    why = std::string(format) + " data cut short (the file ends before the picture does)";
    return false;
}

bool broken(const char *format, const std::string &what, std::string &why) {
    why = std::string("broken ") + format + " file: " + what;
    return false;
}

bool png_complete(const u8 *d, std::size_t size, std::string &why) {
    for (std::size_t i = sizeof PNG_SIGNATURE;;) {
        if (size - i < PNG_CHUNK_OVERHEAD)
            return cut_short("PNG", why);
        const u64 length = be32(d + i);
        if (length > size - i - PNG_CHUNK_OVERHEAD)
            return cut_short("PNG", why);
        const u8 *type = d + i + 4;
        const std::size_t n = static_cast<std::size_t>(length);
        if (crc32(type, 4 + n) != be32(type + 4 + n))
            return broken("PNG",
                          "chunk " + std::string(reinterpret_cast<const char *>(type), 4) +
                              " at offset " + std::to_string(i) + " fails its CRC check",
                          why);
        if (std::memcmp(type, "IEND", 4) == 0)
            return true;
        i += PNG_CHUNK_OVERHEAD + n;
    }
}

bool jpeg_complete(const u8 *d, std::size_t size, std::string &why) {
    std::size_t i = 2;
    for (;;) {
        if (i >= size)
            return cut_short("JPEG", why);
        if (d[i] != JPEG_MARKER)
            return broken("JPEG", "no marker at offset " + std::to_string(i), why);
        while (i < size && d[i] == JPEG_MARKER) // fill bytes
            ++i;
        if (i >= size)
            return cut_short("JPEG", why);
        const u8 marker = d[i++];
        if (marker == JPEG_EOI)
            return true;
        if (marker == JPEG_SOI || marker == JPEG_TEM ||
            (marker >= JPEG_RST0 && marker <= JPEG_RST7))
            continue;
        if (size - i < 2)
            return cut_short("JPEG", why);
        const std::size_t length = d[i] << 8 | d[i + 1];
        if (length < 2)
            return broken("JPEG", "segment length under 2 at offset " + std::to_string(i), why);
        if (length > size - i)
            return cut_short("JPEG", why);
        i += length;
        if (marker != JPEG_SOS)
            continue;
        // Entropy-coded data: runs to the next marker; 0xFF 0x00 is a data byte, restart
        // markers belong to the scan.
        for (;;) {
            if (size - i < 2)
                return cut_short("JPEG", why);
            if (d[i] == JPEG_MARKER && d[i + 1] != 0 &&
                !(d[i + 1] >= JPEG_RST0 && d[i + 1] <= JPEG_RST7))
                break;
            i += d[i] == JPEG_MARKER ? 2 : 1;
        }
    }
}

// Skips GIF data sub-blocks up to their zero-length terminator.
bool gif_skip_blocks(const u8 *d, std::size_t size, std::size_t &i) {
    for (;;) {
        if (i >= size)
            return false;
        const std::size_t n = d[i++];
        if (n == 0)
            return true;
        if (n > size - i)
            return false;
        i += n;
    }
}

std::size_t gif_table_bytes(u8 flags) {
    return (flags & GIF_COLOUR_TABLE) ? 3u << ((flags & GIF_TABLE_SIZE_BITS) + 1) : 0;
}

bool is_gif(const std::uint8_t *data, std::size_t size) {
    return size >= 6 &&
           (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0);
}

// Walks a GIF's blocks up to the trailer, counting its images.
bool gif_complete(const u8 *d, std::size_t size, std::string &why, std::size_t &images) {
    images = 0;
    if (size < GIF_HEADER)
        return cut_short("GIF", why);
    std::size_t i = GIF_HEADER + gif_table_bytes(d[10]);
    for (;;) {
        if (i >= size)
            return cut_short("GIF", why);
        const u8 block = d[i++];
        if (block == GIF_TRAILER)
            return true;
        if (block == GIF_EXTENSION) {
            ++i; // the label
        } else if (block == GIF_IMAGE) {
            if (size - i < GIF_IMAGE_DESCRIPTOR + 1)
                return cut_short("GIF", why);
            i += GIF_IMAGE_DESCRIPTOR + gif_table_bytes(d[i + GIF_IMAGE_DESCRIPTOR - 1]);
            ++i; // the LZW code size
            ++images;
        } else {
            return broken("GIF",
                          "unknown block " + std::to_string(block) + " at offset " +
                              std::to_string(i - 1),
                          why);
        }
        if (i > size || !gif_skip_blocks(d, size, i))
            return cut_short("GIF", why);
    }
}

bool bmp_complete(const u8 *d, std::size_t size, std::string &why) {
    if (size < BMP_FILE_HEADER + 4)
        return cut_short("BMP", why);
    const std::size_t header = le32(d + BMP_FILE_HEADER);
    if (size < BMP_FILE_HEADER + BMP_CORE_HEADER)
        return cut_short("BMP", why);
    u64 width = 0, height = 0, bits = 0, compression = BMP_RGB;
    if (header == BMP_CORE_HEADER) {
        width = le16(d + 18);
        height = le16(d + 20);
        bits = le16(d + 24);
    } else {
        if (header < BMP_INFO_HEADER || size < BMP_FILE_HEADER + BMP_INFO_HEADER)
            return cut_short("BMP", why);
        width = le32(d + 18);
        const std::int64_t h = static_cast<std::int32_t>(le32(d + 22)); // < 0: rows top down
        height = static_cast<u64>(h < 0 ? -h : h);
        bits = le16(d + 28);
        compression = le32(d + 30);
    }
    if (compression != BMP_RGB && compression != BMP_BITFIELDS && compression != BMP_ALPHABITFIELDS)
        return true; // run-length forms: the decoder refuses them
    if (width > NETPBM_MAX_SIDE || height > NETPBM_MAX_SIDE)
        return true; // left to the size check
    const u64 row = (width * bits + 31) / 32 * 4;
    if (le32(d + 10) + row * height > size)
        return cut_short("BMP", why);
    return true;
}

// TGA has no signature; this is what the decoder takes for one (anything else is left to it).
bool tga_complete(const u8 *d, std::size_t size, std::string &why) {
    if (size < TGA_HEADER) {
        why = "too short for a picture (" + std::to_string(size) + " bytes)";
        return false;
    }
    const u8 type = d[2];
    const u8 base = type & static_cast<u8>(~TGA_RLE);
    if (d[1] > 1 || base < 1 || base > 3)
        return true;
    const u64 pixel = (d[16] + 7u) / 8u, count = u64{le16(d + 12)} * le16(d + 14);
    u64 i = TGA_HEADER + d[0];
    if (d[1] == 1)
        i += u64{le16(d + 5)} * ((d[7] + 7u) / 8u);
    if (pixel == 0)
        return true;
    if ((type & TGA_RLE) == 0)
        return i + count * pixel <= size ? true : cut_short("TGA", why);
    for (u64 n = 0; n < count;) {
        if (i >= size)
            return cut_short("TGA", why);
        const u8 packet = d[i++];
        const u64 k = (packet & TGA_COUNT_BITS) + 1u;
        i += (packet & TGA_RUN) ? pixel : k * pixel;
        if (i > size)
            return cut_short("TGA", why);
        n += k;
    }
    return true;
}

// Binary PGM (P5) and PPM (P6): the header, exactly one whitespace byte, then the samples.
bool pnm_complete(const u8 *d, std::size_t size, std::string &why) {
    std::size_t i = 2, width = 0, height = 0, level = 0;
    if (!read_netpbm_number(d, size, i, NETPBM_MAX_SIDE, width) ||
        !read_netpbm_number(d, size, i, NETPBM_MAX_SIDE, height) ||
        !read_netpbm_number(d, size, i, NETPBM_MAX_LEVEL, level) || level == 0 || i >= size ||
        !is_netpbm_space(d[i]))
        return i >= size ? cut_short(d[1] == '5' ? "PGM" : "PPM", why)
                         : broken(d[1] == '5' ? "PGM" : "PPM", "bad header", why);
    ++i;
    const u64 samples = u64{width} * height * (d[1] == '5' ? 1u : 3u);
    if (samples * (level > NETPBM_BYTE_MAX ? 2u : 1u) > size - i)
        return cut_short(d[1] == '5' ? "PGM" : "PPM", why);
    return true;
}

} // namespace

bool is_netpbm_space(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

void skip_netpbm_space(const std::uint8_t *data, std::size_t size, std::size_t &i) {
    while (i < size) { // whitespace and # comments, which run to the end of the line
        if (data[i] == '#') {
            while (i < size && data[i] != '\n' && data[i] != '\r')
                ++i;
        } else if (is_netpbm_space(data[i])) {
            ++i;
        } else {
            return;
        }
    }
}

bool read_netpbm_number(const std::uint8_t *data, std::size_t size, std::size_t &i, std::size_t max,
                        std::size_t &value) {
    skip_netpbm_space(data, size, i);
    value = 0;
    const std::size_t start = i;
    while (i < size && data[i] >= '0' && data[i] <= '9') {
        value = value * 10 + static_cast<std::size_t>(data[i] - '0');
        if (value > max)
            return false;
        ++i;
    }
    return i > start;
}

std::size_t picture_frames(const std::uint8_t *data, std::size_t size) {
    std::string why;
    std::size_t images = 0;
    if (is_gif(data, size) && gif_complete(data, size, why, images) && images > 1)
        return images;
    return 1;
}

bool picture_complete(const std::uint8_t *data, std::size_t size, std::string &why) {
    if (size >= sizeof PNG_SIGNATURE && std::memcmp(data, PNG_SIGNATURE, sizeof PNG_SIGNATURE) == 0)
        return png_complete(data, size, why);
    if (size >= 3 && data[0] == JPEG_MARKER && data[1] == JPEG_SOI && data[2] == JPEG_MARKER)
        return jpeg_complete(data, size, why);
    if (is_gif(data, size)) {
        std::size_t images = 0;
        return gif_complete(data, size, why, images);
    }
    if (size >= 2 && data[0] == 'B' && data[1] == 'M')
        return bmp_complete(data, size, why);
    if (size >= 2 && data[0] == 'P' && (data[1] == '5' || data[1] == '6'))
        return pnm_complete(data, size, why);
    return tga_complete(data, size, why);
}

} // namespace lcd::tool
