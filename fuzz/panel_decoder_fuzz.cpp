// The simulator's decoder on any bytes: no crash and no hang (libFuzzer's timeout), every byte
// counted, errors within the input and kept within their list, and the same panel, counters
// and errors whether the input comes whole or in pieces.
//
// Input: byte 0 the piece size for the second pass (1..256), the rest the stream.
#include "panel_decoder.h"

#include <cstdlib>
#include <cstring>

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

bool same(const lcd::sim::PanelDecoder &a, const lcd::sim::PanelDecoder &b) {
    const lcd::sim::Counters &x = a.counters();
    const lcd::sim::Counters &y = b.counters();
    if (x.bytes != y.bytes || x.frames != y.frames || x.line_records != y.line_records ||
        x.settings != y.settings || x.finishes != y.finishes || x.errors != y.errors ||
        a.kept_errors() != b.kept_errors() || a.panel() != b.panel() ||
        a.last_setting_length() != b.last_setting_length())
        return false;
    for (std::size_t i = 0; i < a.kept_errors(); ++i) {
        const lcd::sim::DecodeError &e = a.error(i);
        const lcd::sim::DecodeError &f = b.error(i);
        if (e.offset != f.offset || e.kind != f.kind || e.byte != f.byte || e.at_end != f.at_end)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t piece = std::size_t{data[0]} + 1;
    const std::uint8_t *stream = data + 1;
    const std::size_t length = size - 1;

    static lcd::sim::PanelDecoder whole;
    static lcd::sim::PanelDecoder pieces;
    whole = lcd::sim::PanelDecoder{};
    pieces = lcd::sim::PanelDecoder{};
    whole.feed(stream, length);
    whole.finish();
    for (std::size_t at = 0; at < length; at += piece)
        pieces.feed(stream + at, length - at < piece ? length - at : piece);
    pieces.finish();

    const lcd::sim::Counters &counters = whole.counters();
    check(counters.bytes == length);
    check(whole.kept_errors() <= lcd::sim::PanelDecoder::MAX_KEPT_ERRORS);
    check(whole.kept_errors() <= counters.errors);
    check(counters.frames <= counters.line_records);
    for (std::size_t i = 0; i < whole.kept_errors(); ++i)
        check(whole.error(i).offset <= length);
    check(same(whole, pieces));
    return 0;
}
