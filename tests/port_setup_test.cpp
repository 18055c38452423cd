#include "driver/frame_call.h"
#include "driver/port_setup.h"
#include "support/pty.h"
#include "support/reference_encoder.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace lcd {
namespace {

using test::Bytes;
const Bytes INIT(INIT_SEQUENCE.begin(), INIT_SEQUENCE.end());

class PortSetup : public ::testing::Test {
  protected:
    void TearDown() override { close_port(state.link); }

    test::Pty pty;
    DriverState state{};
};

TEST_F(PortSetup, BadPortFirstThenAGoodOne) {
    const OpenResult missing = set_io_properties(state, "/dev/lcd-driver-no-such-port", 1, 0x33, 0);
    EXPECT_EQ(missing.status, OPEN_FAILED);
    EXPECT_EQ(missing.os_error, static_cast<std::uint32_t>(ENOENT));
    EXPECT_FALSE(state.port_initialised);
    // Kept for when the port appears: the frame calls open it by the name given.
    EXPECT_TRUE(state.setting.pending);
    EXPECT_EQ(state.setting.value, 0x33);

    Bytes line = pty.during(INIT.size(), [&] {
        EXPECT_EQ(set_io_properties(state, pty.path().c_str(), 1, 0x44, 0).status, OPEN_OK);
    });
    EXPECT_EQ(line, INIT);
    EXPECT_TRUE(state.port_initialised);
    EXPECT_TRUE(state.setting.pending);
    EXPECT_EQ(state.setting.value, 0x44);
}

TEST_F(PortSetup, LaterCallsOnlyRecordSettings) {
    pty.during(INIT.size(), [&] { set_io_properties(state, pty.path().c_str(), 0, 0, 0); });
    test::Pty other;
    const Bytes line = pty.during(0, [&] {
        EXPECT_EQ(set_io_properties(state, other.path().c_str(), 0x100, 0x12, 0).status, OPEN_OK);
    });
    EXPECT_TRUE(line.empty());
    EXPECT_FALSE(state.setting.pending) << "low byte of apply_setting is zero";

    set_io_properties(state, other.path().c_str(), 1, 0x1FF, 0);
    EXPECT_TRUE(state.setting.pending);
    EXPECT_EQ(state.setting.value, 0xFF);

    // Still the first port: the other terminal can be opened by anyone.
    Link probe{};
    EXPECT_EQ(open_port(probe, other.path().c_str(), LINK_BAUD_RATE, OpenCause::SET_UP).status,
              OPEN_OK);
    close_port(probe);
}

// The port is lost and the adapter comes back under another name, which the host picks: that
// call is a first set-up again, opening the new name at once (the cut stream ended, the
// initialisation first), and the frames go there. Naming the lost port only records a setting.
TEST_F(PortSetup, ALostPortGivesWayToAnotherName) {
    pty.during(INIT.size(), [&] { set_io_properties(state, pty.path().c_str(), 0, 0, 0); });
    pty.close_master();
    const test::Image image = test::image_for_quadrant(1);
    EXPECT_EQ(send_frame(state, image.data(), 0), FRAME_WRITE_FAILED);
    EXPECT_EQ(set_io_properties(state, pty.path().c_str(), 1, 0x51, 0).status, OPEN_OK);
    EXPECT_FALSE(port_held(state.link));

    test::Pty other;
    Bytes expected{RESYNC_BYTE};
    test::append(expected, INIT);
    OpenResult opened{};
    const Bytes line = other.during(expected.size(), [&] {
        opened = set_io_properties(state, other.path().c_str(), 1, 0x52, 0);
    });
    EXPECT_EQ(opened.status, OPEN_OK);
    EXPECT_EQ(line, expected);
    const Bytes frame = test::reference_frame(image, 1, 0x52);
    EXPECT_EQ(other.during(frame.size(), [&] { send_frame(state, image.data(), 0); }), frame);
}

TEST_F(PortSetup, OnlyTheLatestSettingRidesBehindTheNextFrame) {
    pty.during(INIT.size(), [&] { set_io_properties(state, pty.path().c_str(), 1, 0x21, 0); });
    set_io_properties(state, nullptr, 1, 0x22, 0);
    const test::Image image = test::image_for_quadrant(2);
    const Bytes frame = test::reference_frame(image, 2, 0x22);
    EXPECT_EQ(pty.during(frame.size(), [&] { send_frame(state, image.data(), 0); }), frame);
    EXPECT_FALSE(state.setting.pending);
}

TEST_F(PortSetup, ShutdownSaysGoodbyeAndFreesThePort) {
    pty.during(INIT.size(), [&] { set_io_properties(state, pty.path().c_str(), 0, 0, 0); });
    const Bytes line = pty.during(SHUTDOWN_SEQUENCE.size(), [&] { shutdown_port(state); });
    EXPECT_EQ(line, Bytes(SHUTDOWN_SEQUENCE.begin(), SHUTDOWN_SEQUENCE.end()));
    EXPECT_FALSE(port_held(state.link));

    DriverState reloaded{};
    EXPECT_EQ(set_io_properties(reloaded, pty.path().c_str(), 0, 0, 0).status, OPEN_OK);
    close_port(reloaded.link);
}

} // namespace
} // namespace lcd
