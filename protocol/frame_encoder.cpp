#include "frame_encoder.h"

#include "protocol.h"

#include <bit>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(LCD_ENCODER_REQUIRE_SSE2)
#error "the Windows driver is built with SSE2 (-msse2): the portable encoder is far slower"
#endif

namespace lcd {
namespace {

static_assert(quadrant_address(QUADRANT_TOP_LEFT) != ESCAPE_BYTE &&
                  quadrant_address(QUADRANT_TOP_RIGHT) != ESCAPE_BYTE &&
                  quadrant_address(QUADRANT_BOTTOM_LEFT) != ESCAPE_BYTE &&
                  quadrant_address(QUADRANT_BOTTOM_RIGHT) != ESCAPE_BYTE,
              "the encoder writes the address byte unescaped");
static_assert(quadrant_address(QUADRANT_TOP_RIGHT) == IMAGE_WIDTH / 8 &&
              quadrant_address(QUADRANT_BOTTOM_LEFT) == ADDRESS_LOWER_HALF);

// Up to this many escape bytes in a row, the runs between them are copied whole; past it, the
// row is escaped byte by byte.
constexpr int FEW_ESCAPES = 4;

#if defined(__SSE2__) && !defined(LCD_ENCODER_FORCE_SCALAR)

// Room for one row's packed bytes, padded to whole 16-byte blocks for the vector loads.
constexpr std::size_t PACKED_ROW_CAPACITY = 48;

// One delta swap on both 64-bit halves: exchanges the bits under `mask` with those `shift` above.
template <int Shift> __m128i delta_swap(__m128i x, __m128i mask) {
    const __m128i t = _mm_and_si128(_mm_xor_si128(x, _mm_srli_epi64(x, Shift)), mask);
    return _mm_xor_si128(x, _mm_xor_si128(t, _mm_slli_epi64(t, Shift)));
}

// The usual image holds only 0 and 1. A block of N <= 8 vectors of 16 pixels (groups 2k and
// 2k + 1 in vector k) is merged into one vector whose byte 8h + l holds, in bit 7 - k, pixel l
// of group 2k + h (shifting a 0/1 byte left by up to 7 stays inside the byte). Each 64-bit half
// is then an 8x8 bit matrix; flipping it about its anti-diagonal puts pixel l of group 2k + h
// at bit 7 - l of byte k of half h, and interleaving the halves orders the groups. Returns the
// N * 2 packed bytes (the rest zero); every pixel byte is ORed into `seen`, so the caller can
// tell a row with bytes above 1, which it packs the general way.
template <std::size_t... K>
__m128i pack_block_binary(const std::uint8_t *pixels, __m128i &seen, std::index_sequence<K...>) {
    const __m128i v[] = {_mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels + 16 * K))...};
    // Doubling with byte adds: for 0/1 bytes the same as shifting vector k left by 7 - k.
    __m128i merged = _mm_setzero_si128();
    ((merged = _mm_add_epi8(_mm_add_epi8(merged, merged), v[K])), ...);
    if constexpr (sizeof...(K) < 8)
        merged = _mm_slli_epi16(merged, 8 - static_cast<int>(sizeof...(K)));
    ((seen = _mm_or_si128(seen, v[K])), ...);
    merged = delta_swap<9>(merged, _mm_set1_epi64x(0x0055005500550055));
    merged = delta_swap<18>(merged, _mm_set1_epi64x(0x0000333300003333));
    merged = delta_swap<36>(merged, _mm_set1_epi64x(0x000000000F0F0F0F));
    return _mm_unpacklo_epi8(merged, _mm_srli_si128(merged, 8));
}

// A row's 40 packed bytes in three registers (bytes 40..47 zero).
struct PackedRow {
    __m128i part[3];
};

bool pack_row_binary(const std::uint8_t *row, PackedRow &packed) {
    static_assert(IMAGE_WIDTH == 2 * 128 + 64, "a row is two blocks of 8 vectors and one of 4");
    __m128i seen = _mm_setzero_si128();
    packed.part[0] = pack_block_binary(row, seen, std::make_index_sequence<8>{});
    packed.part[1] = pack_block_binary(row + 128, seen, std::make_index_sequence<8>{});
    packed.part[2] = pack_block_binary(row + 256, seen, std::make_index_sequence<4>{});
    const __m128i high_bits = _mm_and_si128(seen, _mm_set1_epi8(static_cast<char>(0xFE)));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(high_bits, _mm_setzero_si128())) == 0xFFFF;
}

// Any byte values: each byte is shifted left by 7 - l in a 16-bit lane (a multiply by 2^(7-l)),
// its low byte kept (the wrap), and the eight bytes of a group summed with one SAD; the low
// byte of that sum is the wrapped 8-bit accumulator.
void pack_row_wrapping(const std::uint8_t *row, std::uint8_t *packed) {
    const __m128i low_bytes = _mm_set1_epi16(0x00FF);
    const __m128i even_scale = _mm_setr_epi16(128, 32, 8, 2, 128, 32, 8, 2); // l = 0, 2, 4, 6
    const __m128i odd_scale = _mm_setr_epi16(64, 16, 4, 1, 64, 16, 4, 1);    // l = 1, 3, 5, 7
    const __m128i zero = _mm_setzero_si128();
    for (std::size_t x = 0; x < IMAGE_WIDTH; x += 16) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + x));
        const __m128i even = _mm_mullo_epi16(_mm_and_si128(p, low_bytes), even_scale);
        const __m128i odd = _mm_mullo_epi16(_mm_srli_epi16(p, 8), odd_scale);
        const __m128i terms = _mm_or_si128(_mm_and_si128(even, low_bytes), _mm_slli_epi16(odd, 8));
        const __m128i sums = _mm_sad_epu8(terms, zero);
        packed[x / 8] = static_cast<std::uint8_t>(_mm_cvtsi128_si32(sums));
        packed[x / 8 + 1] = static_cast<std::uint8_t>(_mm_extract_epi16(sums, 4));
    }
}

void pack_row(const std::uint8_t *row, PackedRow &packed) {
    if (pack_row_binary(row, packed))
        return;
    alignas(16) std::uint8_t bytes[PACKED_ROW_CAPACITY] = {};
    pack_row_wrapping(row, bytes);
    for (std::size_t i = 0; i < 3; ++i)
        packed.part[i] = _mm_load_si128(reinterpret_cast<const __m128i *>(bytes + 16 * i));
}

// Bit g set when packed byte g is the escape byte.
std::uint64_t escape_mask(const PackedRow &packed) {
    const __m128i escape = _mm_set1_epi8(static_cast<char>(ESCAPE_BYTE));
    const auto hits = [&](std::size_t i) {
        return static_cast<std::uint64_t>(
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(packed.part[i], escape))));
    };
    return hits(0) | hits(1) << 16 | (hits(2) & 0xFFu) << 32;
}

// The 40 packed bytes, unescaped.
void store_packed(const PackedRow &packed, std::uint8_t *out) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), packed.part[0]);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16), packed.part[1]);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out + 32), packed.part[2]);
}

#else

// The portable path, and the reference for the vector one: byte for byte the same results.
struct PackedRow {
    std::uint8_t bytes[ROW_PIXEL_BYTES];
};

void pack_row(const std::uint8_t *row, PackedRow &packed) {
    for (std::size_t g = 0; g < ROW_PIXEL_BYTES; ++g) {
        std::uint8_t d = 0;
        for (std::size_t l = 0; l < 8; ++l)
            d = static_cast<std::uint8_t>(d + (row[8 * g + l] << (7 - l)));
        packed.bytes[g] = d;
    }
}

std::uint64_t escape_mask(const PackedRow &packed) {
    std::uint64_t mask = 0;
    for (std::size_t g = 0; g < ROW_PIXEL_BYTES; ++g)
        mask |= static_cast<std::uint64_t>(packed.bytes[g] == ESCAPE_BYTE) << g;
    return mask;
}

void store_packed(const PackedRow &packed, std::uint8_t *out) {
    std::memcpy(out, packed.bytes, ROW_PIXEL_BYTES);
}

#endif

} // namespace

std::int32_t select_quadrant(const std::uint8_t *pixels) {
    for (std::int32_t quadrant = QUADRANT_TOP_LEFT; quadrant <= QUADRANT_BOTTOM_RIGHT; ++quadrant) {
        if (pixels[1 + quadrant] == 0)
            return quadrant;
    }
    return NO_QUADRANT;
}

std::uint32_t encode_line_records(const std::uint8_t *pixels, std::int32_t quadrant,
                                  std::uint8_t *out) {
    const std::uint8_t address = quadrant_address(quadrant);
    std::uint8_t *const start = out;
    PackedRow packed;
    for (std::size_t j = 0; j < IMAGE_HEIGHT; ++j) {
        pack_row(pixels + j * IMAGE_WIDTH, packed);
        *out++ = ESCAPE_BYTE;
        *out++ = CMD_LINE;
        out = put_escaped(out, static_cast<std::uint8_t>(j));
        *out++ = address;
        std::uint64_t escapes = escape_mask(packed);
        if (escapes == 0) {
            store_packed(packed, out);
            out += ROW_PIXEL_BYTES;
        } else if (std::popcount(escapes) > FEW_ESCAPES) {
            // Without branches on the data: each byte is written twice and the second copy
            // kept only when it is the escape byte. The last byte is written the plain way, so
            // nothing lands past the record.
            std::uint8_t bytes[ROW_PIXEL_BYTES];
            store_packed(packed, bytes);
            for (std::size_t g = 0; g + 1 < ROW_PIXEL_BYTES; ++g) {
                out[0] = bytes[g];
                out[1] = bytes[g];
                out += 1 + (bytes[g] == ESCAPE_BYTE ? 1 : 0);
            }
            out = put_escaped(out, bytes[ROW_PIXEL_BYTES - 1]);
        } else {
            // The runs between the few escape bytes copied whole, each escape byte doubled.
            std::uint8_t bytes[ROW_PIXEL_BYTES];
            store_packed(packed, bytes);
            std::size_t from = 0;
            while (escapes != 0) {
                const auto g = static_cast<std::size_t>(std::countr_zero(escapes));
                escapes &= escapes - 1;
                std::memcpy(out, bytes + from, g + 1 - from);
                out += g + 1 - from;
                *out++ = ESCAPE_BYTE;
                from = g + 1;
            }
            std::memcpy(out, bytes + from, ROW_PIXEL_BYTES - from);
            out += ROW_PIXEL_BYTES - from;
        }
    }
    return static_cast<std::uint32_t>(out - start);
}

} // namespace lcd
