// send_frame over a real terminal: which frames reach the line and what they change.
#include "driver/frame_call.h"
#include "driver/port_keeper.h"
#include "driver/port_setup.h"
#include "support/pty.h"
#include "support/reference_encoder.h"

#include <gtest/gtest.h>

namespace lcd {
namespace {

using test::append;
using test::blank_image;
using test::Bytes;
using test::Image;
using test::image_for_quadrant;
using test::reference_frame;

class SendFrame : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(
            open_port(state.link, pty.path().c_str(), LINK_BAUD_RATE, OpenCause::SET_UP).status,
            OPEN_OK);
    }
    void TearDown() override { close_port(state.link); }

    // Hands `image` to send_frame, which is to write `count` bytes, and returns what arrived
    // on the line.
    Bytes send(const Image &image, FrameStatus expected, std::size_t count) {
        return pty.during(count, [&] { EXPECT_EQ(send_frame(state, image.data(), 0), expected); });
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
    EXPECT_EQ(send_frame(state, nullptr, 0), FRAME_NO_IMAGE);

    close_port(state.link);
    EXPECT_EQ(send_frame(state, image_for_quadrant(0).data(), 0), FRAME_NO_PORT);

    EXPECT_EQ(state.last_quadrant, QUADRANT_BOTTOM_LEFT);
    EXPECT_TRUE(state.setting.pending);
    EXPECT_EQ(state.setting.value, 7);
}

const Bytes INIT(INIT_SEQUENCE.begin(), INIT_SEQUENCE.end());

// The far end stops reading while frames full of escapes go out. The frame cut short does not
// count: the port is given up at once and the frame calls return without touching it until the
// retry interval has passed. Then the port opens again, the cut stream is ended by the resync
// byte, the controller is initialised, and the same quadrant goes out with the setting it lost.
TEST(SendFrameFault, CutFrameIsSentAgainWithItsSetting) {
    test::Pty pty;
    DriverState state{};
    // The driver's clock, moved only when told: the retry interval without sleeping.
    std::uint64_t now = 1'000;
    ASSERT_EQ(
        pty.during(INIT.size(), [&] { set_io_properties(state, pty.path().c_str(), 0, 0, now); }),
        INIT);
    const Image escapes[2] = {image_for_quadrant(1, test::escape_image()),
                              image_for_quadrant(2, test::escape_image())};
    FrameStatus status = FRAME_SENT;
    int q = 0;
    for (int i = 0; i < 20 && status == FRAME_SENT; ++i) {
        q = 1 + i % 2;
        state.setting = {0x5C, true};
        status = send_frame(state, escapes[q - 1].data(), now);
    }
    ASSERT_EQ(status, FRAME_WRITE_SHORT) << "the terminal took every frame nobody read";
    EXPECT_FALSE(port_held(state.link));
    EXPECT_TRUE(state.setting.pending) << "the setting of the cut frame was used up";
    EXPECT_EQ(state.last_quadrant, NO_QUADRANT);

    pty.drain(); // the far end reads again
    // Due one interval after the call ended: the cut write came back at its bound.
    call_ended(state, now + WRITE_TIMEOUT_MS);
    now += WRITE_TIMEOUT_MS + PORT_RETRY_INTERVAL_MS - 1;
    EXPECT_EQ(send_frame(state, escapes[q - 1].data(), now), FRAME_NO_PORT) << "retried too early";
    now += 1;
    Bytes expected{RESYNC_BYTE};
    append(expected, INIT);
    append(expected, reference_frame(escapes[q - 1], q, 0x5C));
    EXPECT_EQ(pty.during(expected.size(), [&] { send_frame(state, escapes[q - 1].data(), now); }),
              expected);
    EXPECT_FALSE(state.setting.pending);
    EXPECT_EQ(state.last_quadrant, q);
    close_port(state.link);
}

} // namespace
} // namespace lcd
