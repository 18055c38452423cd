#include "stream_trace.h"

#include "protocol/protocol.h"

namespace lcd::sim {

namespace {
using ull = unsigned long long;
constexpr int OFFSET_WIDTH = 10; // room for a 1 GB capture's offsets
} // namespace

void StreamTrace::line_record(const LineRecordSeen &r) {
    const unsigned half = (r.address & lcd::ADDRESS_LOWER_HALF) != 0 ? 1u : 0u;
    const unsigned column = r.address & 0x7Fu;
    std::fprintf(out_, "%*llu  line %u half %u column %u (row %u), %u escaped", OFFSET_WIDTH,
                 static_cast<ull>(r.offset), r.line, half, column,
                 r.line + half * static_cast<unsigned>(HALF_LINES), r.escaped);
    if (r.frame_complete)
        std::fprintf(out_, ": frame %llu", static_cast<ull>(++frames_));
    std::fputc('\n', out_);
}

void StreamTrace::setting(std::uint64_t offset, const std::uint8_t *bytes, std::size_t length) {
    std::fprintf(out_, "%*llu  setting", OFFSET_WIDTH, static_cast<ull>(offset));
    const std::size_t shown = length < SETTING_BYTES_KEPT ? length : SETTING_BYTES_KEPT;
    for (std::size_t i = 0; i < shown; ++i)
        std::fprintf(out_, " %02X", bytes[i]);
    if (shown < length)
        std::fprintf(out_, " ... (%zu bytes)", length);
    std::fputc('\n', out_);
}

void StreamTrace::finish(std::uint64_t offset) {
    std::fprintf(out_, "%*llu  finish\n", OFFSET_WIDTH, static_cast<ull>(offset));
}

void StreamTrace::error(const DecodeError &e) {
    char text[128];
    describe(e, text, sizeof text);
    std::fprintf(out_, "%*llu  error: %s\n", OFFSET_WIDTH, static_cast<ull>(e.offset), text);
}

} // namespace lcd::sim
