#include "frame_encoder.h"

#include "driver_state.h"
#include "protocol.h"
#include "transmit_buffer.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
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

// Room for one row's packed bytes, padded so the escape scan can read whole 16-byte blocks.
constexpr std::size_t PACKED_ROW_CAPACITY = 48;

#if defined(__SSE2__)

// Bit-reversal of a byte: the 0/1 path gathers pixel x into bit x, the wire wants bit 7 - x.
struct ReverseTable {
    std::uint8_t value[256];
    constexpr ReverseTable() : value{} {
        for (unsigned i = 0; i < 256; ++i) {
            unsigned r = 0;
            for (unsigned b = 0; b < 8; ++b)
                r |= ((i >> b) & 1u) << (7 - b);
            value[i] = static_cast<std::uint8_t>(r);
        }
    }
};
constexpr ReverseTable REVERSE{};

// The usual image holds only 0 and 1: gather bit 0 of every pixel byte with one movemask per
// 16 pixels. Returns false (and the caller packs the row the general way) when any pixel byte
// is above 1, since those take part in the wrapping sum.
bool pack_row_binary(const std::uint8_t *row, std::uint8_t *packed) {
    __m128i above_one = _mm_setzero_si128();
    const __m128i high_bits = _mm_set1_epi8(static_cast<char>(0xFE));
    for (std::size_t x = 0; x < IMAGE_WIDTH; x += 16) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + x));
        above_one = _mm_or_si128(above_one, _mm_and_si128(p, high_bits));
        // Shifting each 16-bit lane left by 7 moves bit 0 of both of its bytes to bit 7.
        const unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_slli_epi16(p, 7)));
        packed[x / 8] = REVERSE.value[bits & 0xFF];
        packed[x / 8 + 1] = REVERSE.value[bits >> 8];
    }
    return _mm_movemask_epi8(_mm_cmpeq_epi8(above_one, _mm_setzero_si128())) == 0xFFFF;
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

void pack_row(const std::uint8_t *row, std::uint8_t *packed) {
    if (!pack_row_binary(row, packed))
        pack_row_wrapping(row, packed);
}

bool has_escape_byte(const std::uint8_t *packed) {
    const __m128i escape = _mm_set1_epi8(static_cast<char>(ESCAPE_BYTE));
    __m128i hits = _mm_setzero_si128();
    for (std::size_t i = 0; i < PACKED_ROW_CAPACITY; i += 16) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i *>(packed + i));
        hits = _mm_or_si128(hits, _mm_cmpeq_epi8(v, escape));
    }
    return _mm_movemask_epi8(hits) != 0;
}

#else

void pack_row(const std::uint8_t *row, std::uint8_t *packed) {
    for (std::size_t g = 0; g < ROW_PIXEL_BYTES; ++g) {
        std::uint8_t d = 0;
        for (std::size_t l = 0; l < 8; ++l)
            d = static_cast<std::uint8_t>(d + (row[8 * g + l] << (7 - l)));
        packed[g] = d;
    }
}

bool has_escape_byte(const std::uint8_t *packed) {
    return std::memchr(packed, ESCAPE_BYTE, ROW_PIXEL_BYTES) != nullptr;
}

#endif

std::uint8_t *put_escaped(std::uint8_t *out, std::uint8_t byte) {
    if (byte == ESCAPE_BYTE)
        *out++ = ESCAPE_BYTE;
    *out++ = byte;
    return out;
}

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
    // The padding past the 40 packed bytes stays zero, so the escape scan never sees 0x0E there.
    alignas(16) std::uint8_t packed[PACKED_ROW_CAPACITY] = {};
    for (std::size_t j = 0; j < IMAGE_HEIGHT; ++j) {
        pack_row(pixels + j * IMAGE_WIDTH, packed);
        *out++ = ESCAPE_BYTE;
        *out++ = CMD_LINE;
        out = put_escaped(out, static_cast<std::uint8_t>(j));
        *out++ = address;
        if (!has_escape_byte(packed)) {
            std::memcpy(out, packed, ROW_PIXEL_BYTES);
            out += ROW_PIXEL_BYTES;
        } else {
            for (std::size_t g = 0; g < ROW_PIXEL_BYTES; ++g)
                out = put_escaped(out, packed[g]);
        }
    }
    return static_cast<std::uint32_t>(out - start);
}

FrameStatus send_frame(DriverState &state, const std::uint8_t *pixels) {
    if (pixels == nullptr)
        return FRAME_NO_IMAGE;
    const std::int32_t quadrant = select_quadrant(pixels);
    if (quadrant == NO_QUADRANT)
        return FRAME_NO_QUADRANT;
    if (quadrant == state.last_quadrant)
        return FRAME_SAME_QUADRANT;
    // A frame that can reach no line must not use up the quadrant or the pending setting.
    if (state.port_handle == NO_PORT)
        return FRAME_NO_PORT;

    state.last_quadrant = quadrant;
    reset(state.tx);
    state.tx.count = encode_line_records(pixels, quadrant, state.tx.bytes.data());
    append_setting_trailer(state.tx, state.setting);
    return static_cast<FrameStatus>(transmit(state.tx, state.port_handle));
}

} // namespace lcd
