// send_frame over a real terminal: which frames reach the line and what they change.
#include "driver/frame_call.h"
#include "support/pty.h"
#include "support/reference_encoder.h"

#include <gtest/gtest.h>

namespace lcd {
namespace {

using test::blank_image;
using test::Bytes;
using test::Image;
using test::image_for_quadrant;
using test::reference_frame;

class SendFrame : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(open_port(state.link, pty.path().c_str(), LINK_BAUD_RATE).status, OPEN_OK);
    }
    void TearDown() override { close_port(state.link); }

    // Hands `image` to send_frame, which is to write `count` bytes, and returns what arrived
    // on the line.
    Bytes send(const Image &image, FrameStatus expected, std::size_t count) {
        return pty.during(count,
                          [&] { EXPECT_EQ(send_frame(state, image.data(), 0).status, expected); });
    }

    test::Pty pty;
    DriverState state{};
};

TEST_F(SendFrame, FirstFrameIsSentWhateverItsQuadrant) {
    const Image image = image_for_quadrant(QUADRANT_TOP_LEFT);
    const Bytes expected = reference_frame(image, 0);
    EXPECT_EQ(send(image, FRAME_SENT, expected.size()), expected);
    EXPECT_EQ(state.last_quadrant, QUADRANT_TOP_LEFT);
}

TEST_F(SendFrame, SameQuadrantIsSkippedAndKeepsTheSetting) {
    send(image_for_quadrant(1), FRAME_SENT, FRAME_MIN_SIZE);
    state.setting = {0x42, true};
    Image changed = image_for_quadrant(1);
    changed[5000] = 1;
    EXPECT_TRUE(send(changed, FRAME_SAME_QUADRANT, 0).empty());
    EXPECT_TRUE(state.setting.pending);

    const Image next = image_for_quadrant(2);
    const Bytes expected = reference_frame(next, 2, 0x42);
    EXPECT_EQ(send(next, FRAME_SENT, expected.size()), expected);
    EXPECT_FALSE(state.setting.pending);
}

TEST_F(SendFrame, EscapeByteSettingRidesRawBehindTheFrame) {
    state.setting = {0x0E, true};
    const Bytes line = send(image_for_quadrant(3), FRAME_SENT, 10'564);
    ASSERT_EQ(line.size(), 10'564u);
    EXPECT_EQ(Bytes(line.end() - 3, line.end()), (Bytes{0x0E, 0x02, 0x0E}));
}

TEST_F(SendFrame, FramesThatChangeNothing) {
    send(image_for_quadrant(2), FRAME_SENT, FRAME_MIN_SIZE);
    state.setting = {7, true};

    Image all_markers = blank_image();
    all_markers[1] = all_markers[2] = all_markers[3] = all_markers[4] = 1;
    EXPECT_TRUE(send(all_markers, FRAME_NO_QUADRANT, 0).empty());
    EXPECT_EQ(send_frame(state, nullptr, 0).status, FRAME_NO_IMAGE);

    close_port(state.link);
    EXPECT_EQ(send_frame(state, image_for_quadrant(0).data(), 0).status, FRAME_NO_PORT);

    EXPECT_EQ(state.last_quadrant, QUADRANT_BOTTOM_LEFT);
    EXPECT_TRUE(state.setting.pending);
    EXPECT_EQ(state.setting.value, 7);
}

} // namespace
} // namespace lcd
