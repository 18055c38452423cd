// The decoder against the driver's own encoder and against broken streams.
#include "panel_decoder.h"
#include "protocol/frame_encoder.h"
#include "protocol/protocol.h"
#include "support/reference_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <type_traits>

namespace {

using lcd::sim::ErrorKind;
using lcd::sim::PanelDecoder;
using lcd::test::Bytes;
using lcd::test::Image;
using lcd::test::INIT;
using lcd::test::random_bits_image;
using lcd::test::reference_panel;
static_assert(std::is_same_v<lcd::sim::Panel, lcd::test::PackedPanel>);

Bytes encode(const Image &image, int q) {
    Bytes out(lcd::FRAME_MAX_SIZE);
    out.resize(lcd::encode_line_records(image.data(), q, out.data()));
    return out;
}

Image escape_image(int q) {
    return lcd::test::image_for_quadrant(q, lcd::test::escape_image());
}

TEST(PanelDecoder, EncoderFramesComeBackInTheirQuadrant) {
    for (int q = 0; q < 4; ++q) {
        for (const Image &image :
             {random_bits_image(7u + static_cast<unsigned>(q), q), escape_image(q)}) {
            const Bytes wire = encode(image, q);
            PanelDecoder whole, bytewise;
            whole.feed(wire.data(), wire.size());
            for (const std::uint8_t b : wire)
                bytewise.feed(&b, 1);
            whole.finish();
            bytewise.finish();
            const auto expected = reference_panel(image, q);
            EXPECT_EQ(whole.panel(), expected) << "quadrant " << q;
            EXPECT_EQ(bytewise.panel(), expected) << "quadrant " << q;
            EXPECT_EQ(whole.counters().frames, 1u);
            EXPECT_EQ(whole.counters().line_records, 240u);
            EXPECT_EQ(whole.counters().errors, 0u);
            EXPECT_EQ(whole.counters().bytes, wire.size());
        }
    }
}

TEST(PanelDecoder, SettingsInitialisationAndTrailers) {
    // Initialisation, then a frame whose trailer carries 0x0E (raw), then the next frame.
    Bytes wire = INIT;
    const Image a = random_bits_image(1, 0), b = escape_image(3);
    const Bytes fa = lcd::test::reference_frame(a, 0, 0x0E);
    const Bytes fb = lcd::test::reference_frame(b, 3, 0x0B);
    wire.insert(wire.end(), fa.begin(), fa.end());
    wire.insert(wire.end(), fb.begin(), fb.end());
    PanelDecoder d;
    d.feed(wire.data(), wire.size());
    d.finish();
    EXPECT_EQ(d.counters().errors, 0u);
    EXPECT_EQ(d.counters().settings, 3u);
    EXPECT_EQ(d.counters().finishes, 1u);
    EXPECT_EQ(d.counters().frames, 2u);
    EXPECT_EQ(d.panel(), reference_panel(b, 3, reference_panel(a, 0)));
    ASSERT_EQ(d.last_setting_length(), 1u);
    EXPECT_EQ(d.last_setting()[0], 0x0B); // raw, though it equals CMD_FINISH

    PanelDecoder init;
    init.feed(INIT.data(), INIT.size());
    ASSERT_EQ(init.last_setting_length(), 3u);
    EXPECT_EQ(Bytes(init.last_setting(), init.last_setting() + 3), (Bytes{0x50, 0x03, 0x00}));

    // The sign-off is not what was asked for; a host's own 0A, which no finish follows, is.
    const Bytes sign_off(lcd::SHUTDOWN_SEQUENCE.begin(), lcd::SHUTDOWN_SEQUENCE.end());
    Bytes host_0a = lcd::test::reference_frame(a, 1, 0x0A);
    host_0a.insert(host_0a.end(), sign_off.begin(), sign_off.end());
    for (const auto &[stream, asked] :
         {std::pair{sign_off, Bytes{0x0B}}, std::pair{host_0a, Bytes{0x0A}}}) {
        for (const std::uint8_t byte : stream)
            d.feed(&byte, 1);
        EXPECT_EQ(Bytes(d.asked_setting(), d.asked_setting() + d.asked_setting_length()), asked);
    }
    EXPECT_EQ(d.last_setting()[0], 0x0A);
}

// One good record for line 5 of quadrant 0, all pixel bytes 0xAB.
Bytes good_record() {
    Bytes r{0x0E, 0x01, 0x05, 0x00};
    r.insert(r.end(), 40, 0xAB);
    return r;
}

struct BrokenCase {
    const char *name;
    Bytes stream;
    std::vector<std::pair<ErrorKind, std::uint64_t>> errors;
    bool at_end;
};

TEST(PanelDecoder, BrokenStreamsReportTheFaultAndResynchronise) {
    Bytes long_line{0x0E, 0x01, 0xF0, 0x00};
    long_line.insert(long_line.end(), 40, 0);
    Bytes past{0x0E, 0x01, 0x00, 0xA9};
    past.insert(past.end(), 40, 0);
    Bytes lower_ok{0x0E, 0x01, 0x0E, 0x0E, 0xA8}; // line 14 escaped, lower right: fine
    lower_ok.insert(lower_ok.end(), 40, 0);
    const std::vector<BrokenCase> cases = {
        {"unknown command", {0x0E, 0x07, 0x01, 0x02}, {{ErrorKind::UnknownCommand, 0}}, false},
        {"0E 0E outside a record", {0x0E, 0x0E}, {{ErrorKind::UnknownCommand, 0}}, false},
        {"stray bytes", {0x41, 0x42, 0x43}, {{ErrorKind::StrayByte, 0}}, false},
        {"record cut by a command",
         {0x0E, 0x01, 0x03, 0x00, 0x11, 0x0E, 0x0B},
         {{ErrorKind::LineRecordCutShort, 5}},
         false},
        {"record cut by the end",
         {0x0E, 0x01, 0x03, 0x00, 0x11},
         {{ErrorKind::LineRecordCutShort, 0}},
         true},
        {"line over 239", long_line, {{ErrorKind::LineOutOfRange, 2}}, false},
        {"address past the panel", past, {{ErrorKind::AddressPastPanel, 3}}, false},
        {"bad escape in a record",
         {0x0E, 0x01, 0x03, 0x00, 0x0E, 0x42, 0x0E, 0x0E},
         {{ErrorKind::BadEscape, 4}},
         false},
        {"setting cut short", {0x0E, 0x02}, {{ErrorKind::SettingCutShort, 0}}, true},
        {"escape at the end", {0x0E}, {{ErrorKind::EscapeAtEnd, 0}}, true},
        {"lower half, escaped line", lower_ok, {}, false},
    };
    for (const BrokenCase &c : cases) {
        SCOPED_TRACE(c.name);
        // Behind a good record, so the offsets are shifted by its size, and followed by one,
        // which must land whatever came before.
        Bytes wire = good_record();
        const std::uint64_t base = wire.size();
        wire.insert(wire.end(), c.stream.begin(), c.stream.end());
        PanelDecoder d;
        d.feed(wire.data(), wire.size());
        if (!c.at_end) {
            Bytes tail = good_record();
            tail[2] = 0x06;
            d.feed(tail.data(), tail.size());
            EXPECT_EQ(d.panel()[6 * lcd::PANEL_LINE_BYTES + 39], 0xAB) << "no resynchronisation";
        }
        d.finish();
        ASSERT_EQ(d.counters().errors, c.errors.size());
        for (std::size_t i = 0; i < c.errors.size(); ++i) {
            EXPECT_EQ(d.error(i).kind, c.errors[i].first);
            EXPECT_EQ(d.error(i).offset, base + c.errors[i].second);
            EXPECT_EQ(d.error(i).at_end, c.at_end);
        }
        EXPECT_EQ(d.panel()[5 * lcd::PANEL_LINE_BYTES], 0xAB);
    }
}

// The observer is told each command in stream order, a complete frame before any byte of the
// next is decoded, and a setting when the next command ends it.
TEST(PanelDecoder, ObserverSeesEachCommandAndExactlyEachFrame) {
    // Every pixel byte escaped: records of 84 bytes (85 for line 14, whose line byte is 0E).
    const Image a = escape_image(0), b = escape_image(3);
    Bytes wire = INIT;
    const Bytes fa = encode(a, 0), fb = encode(b, 3);
    wire.insert(wire.end(), fa.begin(), fa.end());
    wire.insert(wire.end(), {0x0E, 0x02, 0x0E}); // a setting of 0E, raw
    wire.insert(wire.end(), fb.begin(), fb.end());
    struct Seen : lcd::sim::DecodeObserver {
        explicit Seen(const PanelDecoder &d) : decoder(d) {}
        const PanelDecoder &decoder;
        std::vector<lcd::sim::Panel> panels;
        std::vector<std::string> events;
        std::uint64_t escaped = 0;
        void line_record(const lcd::sim::LineRecordSeen &r) override {
            escaped += r.escaped;
            if (r.frame_complete) {
                panels.push_back(decoder.panel());
                events.push_back("frame@" + std::to_string(r.offset) + " escaped " +
                                 std::to_string(r.escaped));
            }
        }
        void setting(std::uint64_t offset, const std::uint8_t *bytes, std::size_t n) override {
            events.push_back("setting@" + std::to_string(offset) + ":" + std::to_string(n) + ":" +
                             std::to_string(bytes[0]));
        }
        void finish(std::uint64_t offset) override {
            events.push_back("finish@" + std::to_string(offset));
        }
        void error(const lcd::sim::DecodeError &e) override {
            events.push_back("error@" + std::to_string(e.offset));
        }
    };
    PanelDecoder d;
    Seen seen(d);
    d.set_observer(&seen);
    d.feed(wire.data(), wire.size());
    d.finish();
    ASSERT_EQ(seen.panels.size(), 2u);
    EXPECT_EQ(seen.panels[0], reference_panel(a, 0));
    EXPECT_EQ(seen.panels[1], reference_panel(b, 3, reference_panel(a, 0)));
    const std::size_t end_a = INIT.size() + fa.size();
    EXPECT_EQ(seen.events, (std::vector<std::string>{
                               "setting@0:3:80",
                               "finish@5",
                               "frame@" + std::to_string(end_a - 84) + " escaped 40",
                               "setting@" + std::to_string(end_a) + ":1:14",
                               "frame@" + std::to_string(wire.size() - 84) + " escaped 40",
                           }));
    // Per frame: the 9,600 pixel bytes, less the one holding the markers, plus line 14's byte.
    EXPECT_EQ(seen.escaped, 2 * lcd::IMAGE_HEIGHT * lcd::ROW_PIXEL_BYTES);
}

// What the decoder makes of the driver's transmission `next` behind a stream cut short: the
// commands that begin in `next` itself, from its first escape byte on.
std::vector<std::string> decode_behind(const Bytes &cut, const Bytes &next, PanelDecoder &d) {
    struct Seen : lcd::sim::DecodeObserver {
        std::uint64_t from = 0;
        std::vector<std::string> events;
        std::size_t lines = 0;
        void line_record(const lcd::sim::LineRecordSeen &r) override {
            lines += r.offset >= from ? 1 : 0;
            if (r.frame_complete && r.offset >= from)
                events.push_back("frame of " + std::to_string(lines) + " lines");
        }
        void setting(std::uint64_t offset, const std::uint8_t *bytes, std::size_t n) override {
            if (offset >= from)
                events.push_back("setting@" + std::to_string(offset - from) + ":" +
                                 std::to_string(n) + ":" + std::to_string(bytes[0]));
        }
        void finish(std::uint64_t offset) override {
            if (offset >= from)
                events.push_back("finish@" + std::to_string(offset - from));
        }
    };
    Seen seen;
    seen.from = cut.size() + (next[0] == lcd::RESYNC_BYTE ? 1 : 0);
    d.set_observer(&seen);
    d.feed(cut.data(), cut.size());
    d.feed(next.data(), next.size());
    d.finish();
    return seen.events;
}

// The driver's write cut short anywhere (in the initialisation, inside a line record, between
// the two bytes of a doubled escape, inside the setting behind a frame), then what the driver
// sends next: the resync byte, the initialisation and the frame the host hands over again with
// its setting. All of that arrives whatever the cut, and the panel is exactly the new frame.
// Without the resync byte some cuts lose part of it.
TEST(PanelDecoder, ResyncByteEndsAStreamCutAnywhere) {
    Bytes before = INIT;
    const Bytes cut_frame = lcd::test::reference_frame(escape_image(1), 1, 0x5C);
    before.insert(before.end(), cut_frame.begin(), cut_frame.end());
    // Line 14's record: its line byte and every pixel byte doubled (85 bytes).
    const Bytes line14{0x0E, 0x01, 0x0E, 0x0E};
    const auto record14 = static_cast<std::size_t>(
        std::search(before.begin(), before.end(), line14.begin(), line14.end()) - before.begin());
    struct Region {
        const char *name;
        std::size_t begin, end;
    };
    const Region regions[] = {
        {"the initialisation", 0, INIT.size()},
        {"line 14's record", record14, record14 + 85},
        {"the last record and the setting", before.size() - 84 - 3, before.size()},
    };

    const Image image = random_bits_image(3, 1);
    const Bytes frame = lcd::test::reference_frame(image, 1, 0x42);
    Bytes next{lcd::RESYNC_BYTE};
    next.insert(next.end(), INIT.begin(), INIT.end());
    next.insert(next.end(), frame.begin(), frame.end());
    const Bytes unsynced(next.begin() + 1, next.end());
    const std::vector<std::string> whole = {"setting@0:3:80", "finish@5", "frame of 240 lines",
                                            "setting@" + std::to_string(unsynced.size() - 3) +
                                                ":1:66"};

    std::size_t cuts = 0, lost_without = 0;
    for (const Region &region : regions) {
        for (std::size_t at = region.begin; at <= region.end; ++at, ++cuts) {
            SCOPED_TRACE(std::string("cut in ") + region.name + " at byte " + std::to_string(at));
            const Bytes cut(before.begin(), before.begin() + static_cast<std::ptrdiff_t>(at));
            PanelDecoder d;
            EXPECT_EQ(decode_behind(cut, next, d), whole);
            EXPECT_EQ(d.panel(), reference_panel(image, 1));
            PanelDecoder without;
            lost_without += decode_behind(cut, unsynced, without) != whole ? 1u : 0u;
        }
    }
    EXPECT_EQ(cuts, 8u + 86u + 88u);
    EXPECT_GT(lost_without, 0u) << "no cut needed the resync byte: the test shows nothing";
}

TEST(PanelDecoder, GarbageNeverEscapesTheKeptErrorList) {
    std::mt19937 rng(42);
    Bytes junk(200000);
    for (auto &b : junk)
        b = static_cast<std::uint8_t>((rng() % 4 == 0) ? 0x0E : rng() % 16);
    PanelDecoder d;
    d.feed(junk.data(), junk.size());
    d.finish();
    EXPECT_GT(d.counters().errors, PanelDecoder::MAX_KEPT_ERRORS);
    EXPECT_EQ(d.kept_errors(), PanelDecoder::MAX_KEPT_ERRORS);
    for (std::size_t i = 1; i < d.kept_errors(); ++i)
        EXPECT_LT(d.error(i - 1).offset, d.error(i).offset);
}

} // namespace
