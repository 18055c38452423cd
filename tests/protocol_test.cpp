#include "protocol/frame_encoder.h"
#include "protocol/transmit_buffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace lcd {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes contents(const TransmitBuffer &tx) {
    return {tx.bytes.begin(), tx.bytes.begin() + tx.count};
}

TEST(TransmitBuffer, EscapedByteDoublesOnlyTheEscapeByte) {
    struct Case {
        std::uint8_t in;
        std::vector<std::uint8_t> out;
    };
    for (const Case &c : {Case{0x0E, {0x0E, 0x0E}}, Case{0x0D, {0x0D}}, Case{0x0F, {0x0F}},
                          Case{0x00, {0x00}}, Case{0xFF, {0xFF}}}) {
        std::uint8_t out[3] = {0x55, 0x55, 0x55};
        std::uint8_t *const end = put_escaped(out, c.in);
        EXPECT_EQ(Bytes(out, end), c.out) << "byte " << int(c.in);
    }
}

TEST(TransmitBuffer, SettingTrailerIsRawAndSentOnce) {
    TransmitBuffer tx{};
    PendingSetting setting{0x0E, true};
    append_setting_trailer(tx, setting);
    EXPECT_EQ(contents(tx), (std::vector<std::uint8_t>{0x0E, 0x02, 0x0E}));
    EXPECT_FALSE(setting.pending);

    append_setting_trailer(tx, setting); // nothing pending any more: nothing added
    EXPECT_EQ(tx.count, 3u);
}

TEST(TransmitBuffer, AppendStopsAtCapacity) {
    TransmitBuffer tx{};
    tx.count = static_cast<std::uint32_t>(TRANSMIT_BUFFER_CAPACITY - 1);
    append_raw(tx, std::array<std::uint8_t, 2>{ESCAPE_BYTE, CMD_FINISH}); // one of two fits
    EXPECT_EQ(tx.count, TRANSMIT_BUFFER_CAPACITY);
    append_raw(tx, 0x55);
    EXPECT_EQ(tx.count, TRANSMIT_BUFFER_CAPACITY);
}

} // namespace
} // namespace lcd
