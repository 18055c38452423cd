#include "driver/frame_call.h"
#include "driver/port_setup.h"
#include "support/pty.h"
#include "support/reference_encoder.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace lcd {
namespace {

using test::Bytes;
using test::INIT;

class PortSetup : public ::testing::Test {
  protected:
    void TearDown() override { close_port(state.link); }

    // A set-up call naming `on` that is to answer `status`; returns what arrived there.
    Bytes set_up(test::Pty &on, std::uint32_t status = OPEN_OK, std::uint32_t apply = 0,
                 std::uint32_t setting = 0, std::size_t count = INIT.size()) {
        return on.during(count, [&] {
            EXPECT_EQ(set_io_properties(state, on.path().c_str(), apply, setting).status, status);
        });
    }

    test::Pty pty;
    DriverState state{};
};

TEST_F(PortSetup, BadPortFirstThenAGoodOne) {
    const SetUpResult missing = set_io_properties(state, "/dev/lcd-driver-no-such-port", 1, 0x33);
    EXPECT_EQ(missing.status, OPEN_FAILED);
    EXPECT_EQ(missing.os_error, static_cast<std::uint32_t>(ENOENT));
    EXPECT_FALSE(state.port_initialised);
    // Kept for when the port appears: the frame calls open it by the name given.
    EXPECT_TRUE(state.setting.pending);
    EXPECT_EQ(state.setting.value, 0x33);

    EXPECT_EQ(set_up(pty, OPEN_OK, 1, 0x44), INIT);
    EXPECT_TRUE(state.port_initialised);
    EXPECT_TRUE(state.setting.pending);
    EXPECT_EQ(state.setting.value, 0x44);
}

TEST_F(PortSetup, LaterCallsOnlyRecordSettings) {
    set_up(pty);
    test::Pty other;
    const Bytes line = pty.during(0, [&] {
        EXPECT_EQ(set_io_properties(state, other.path().c_str(), 0x100, 0x12).status, OPEN_OK);
    });
    EXPECT_TRUE(line.empty());
    EXPECT_FALSE(state.setting.pending) << "low byte of apply_setting is zero";

    set_io_properties(state, other.path().c_str(), 1, 0x1FF);
    EXPECT_TRUE(state.setting.pending);
    EXPECT_EQ(state.setting.value, 0xFF);

    // Still the first port: the other terminal can be opened by anyone.
    Link probe{};
    EXPECT_EQ(open_port(probe, other.path().c_str(), LINK_BAUD_RATE).status, OPEN_OK);
    close_port(probe);
}

// The adapter is pulled out and comes back under another name, which the host picks: whether
// a frame call noticed the loss or not, that call is a first set-up again, opening the new
// name at once (the cut stream ended, the initialisation first), and the frames go there.
// Naming the lost port tries it again at once, and answers that it is still away; what was
// drawn on it no longer counts.
TEST_F(PortSetup, ALostPortGivesWayToAnotherName) {
    const test::Image image = test::image_for_quadrant(1), drawn = test::image_for_quadrant(0);
    for (const bool noticed : {true, false}) {
        SCOPED_TRACE(noticed ? "noticed by a frame call" : "not noticed");
        test::Pty first;
        state = DriverState{};
        set_up(first);
        first.during(FRAME_MIN_SIZE, [&] { send_frame(state, drawn.data(), 0); });
        first.close_master();
        if (noticed) {
            EXPECT_EQ(send_frame(state, image.data(), 0).status, FRAME_WRITE_FAILED);
        }
        EXPECT_EQ(set_io_properties(state, first.path().c_str(), 1, 0x51).status, OPEN_FAILED);
        EXPECT_FALSE(port_held(state.link));
        EXPECT_EQ(send_frame(state, drawn.data(), 0).status, FRAME_NO_PORT);

        test::Pty other;
        Bytes expected{RESYNC_BYTE};
        test::append(expected, INIT);
        EXPECT_EQ(set_up(other, OPEN_OK, 1, 0x52, expected.size()), expected);
        const Bytes frame = test::reference_frame(image, 1, 0x52);
        EXPECT_EQ(other.during(frame.size(), [&] { send_frame(state, image.data(), 0); }), frame);
        close_port(state.link);
    }
}

// The host sets up the kept port again while the driver holds none (the preview's window closed
// by the user, the port still there): that call gets it back at once, initialisation first.
TEST_F(PortSetup, NamingTheKeptPortAgainGetsItBack) {
    set_up(pty);
    close_port_at_once(state.link);
    EXPECT_EQ(set_up(pty), INIT);
    EXPECT_TRUE(port_held(state.link));
}

TEST_F(PortSetup, OnlyTheLatestSettingRidesBehindTheNextFrame) {
    set_up(pty, OPEN_OK, 1, 0x21);
    set_io_properties(state, nullptr, 1, 0x22);
    const test::Image image = test::image_for_quadrant(2);
    const Bytes frame = test::reference_frame(image, 2, 0x22);
    EXPECT_EQ(pty.during(frame.size(), [&] { send_frame(state, image.data(), 0); }), frame);
    EXPECT_FALSE(state.setting.pending);
}

TEST_F(PortSetup, ShutdownSaysGoodbyeAndFreesThePort) {
    set_up(pty);
    const Bytes line = pty.during(test::SIGN_OFF.size(), [&] { close_port_at_unload(state); });
    EXPECT_EQ(line, test::SIGN_OFF);
    EXPECT_FALSE(port_held(state.link));

    DriverState reloaded{};
    EXPECT_EQ(set_io_properties(reloaded, pty.path().c_str(), 0, 0).status, OPEN_OK);
    close_port(reloaded.link);
}

} // namespace
} // namespace lcd
