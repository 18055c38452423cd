// The stream trace (--trace): one line per command as the decoder sees it (see stream_trace.h).
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

std::string setting_text(const std::uint8_t *bytes, std::size_t length) {
    std::string text;
    const std::size_t shown = length < SETTING_BYTES_KEPT ? length : SETTING_BYTES_KEPT;
    char b[4];
    for (std::size_t i = 0; i < shown; ++i) {
        std::snprintf(b, sizeof b, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += b;
    }
    if (shown < length)
        text += " ... (" + std::to_string(length) + " bytes)";
    return text;
}

void StreamTrace::setting(std::uint64_t offset, const std::uint8_t *bytes, std::size_t length) {
    std::fprintf(out_, "%*llu  setting%s%s\n", OFFSET_WIDTH, static_cast<ull>(offset),
                 length != 0 ? " " : "", setting_text(bytes, length).c_str());
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
