// The frame encoder against the controller's decoder: whatever the image and the pending
// setting, the frame is within its size bounds, decodes without an error to one whole frame,
// the chosen quadrant holds exactly the image packed the plain way (wrapping sum), the other
// three stay blank, and the setting arrives raw behind it.
//
// Input: byte 0 flags (bit 0 a setting is pending, bit 1 pixels reduced to 0/1), byte 1 the
// setting, the rest a pattern repeated over the 76,800 pixels.
#include "panel_decoder.h"
#include "protocol/frame_encoder.h"
#include "protocol/protocol.h"
#include "protocol/transmit_buffer.h"
#include "tests/support/reference_encoder.h"

#include <cstdlib>
#include <cstring>

namespace {

using namespace lcd;

void check(bool ok) {
    if (!ok)
        std::abort();
}

std::uint8_t image[IMAGE_SIZE];
TransmitBuffer tx;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 3)
        return 0;
    const bool pending = (data[0] & 1u) != 0;
    const bool binary = (data[0] & 2u) != 0;
    const std::uint8_t setting_value = data[1];
    const std::uint8_t *pattern = data + 2;
    const std::size_t pattern_size = size - 2;
    for (std::size_t i = 0; i < IMAGE_SIZE; ++i) {
        const std::uint8_t p = pattern[i % pattern_size];
        image[i] = binary ? (p & 1u) : p;
    }
    const std::int32_t quadrant = select_quadrant(image);
    if (quadrant == NO_QUADRANT)
        return 0;

    PendingSetting setting{setting_value, pending};
    reset(tx);
    tx.count = encode_line_records(image, quadrant, tx.bytes.data());
    check(tx.count >= FRAME_MIN_SIZE && tx.count <= FRAME_MAX_SIZE - SETTING_TRAILER_SIZE);
    const std::uint32_t records = tx.count;
    append_setting_trailer(tx, setting);
    check(tx.count == records + (pending ? SETTING_TRAILER_SIZE : 0));
    check(!setting.pending);

    static sim::PanelDecoder decoder;
    decoder = sim::PanelDecoder{};
    decoder.feed(tx.bytes.data(), tx.count);
    decoder.finish();
    const sim::Counters &counters = decoder.counters();
    check(counters.errors == 0);
    check(counters.frames == 1 && counters.line_records == IMAGE_HEIGHT);
    check(counters.settings == (pending ? 1u : 0u));
    if (pending)
        check(decoder.last_setting_length() == 1 && decoder.last_setting()[0] == setting_value);

    const std::size_t row0 = (quadrant & 2) != 0 ? IMAGE_HEIGHT : 0;
    const std::size_t column0 = (quadrant & 1) != 0 ? ROW_PIXEL_BYTES : 0;
    const sim::Panel &panel = decoder.panel();
    for (std::size_t y = 0; y < PANEL_HEIGHT; ++y) {
        for (std::size_t c = 0; c < PANEL_LINE_BYTES; ++c) {
            std::uint8_t expected = 0;
            if (y - row0 < IMAGE_HEIGHT && c - column0 < ROW_PIXEL_BYTES)
                expected = test::pack_group(image + (y - row0) * IMAGE_WIDTH + (c - column0) * 8);
            check(panel[y * PANEL_LINE_BYTES + c] == expected);
        }
    }
    return 0;
}
