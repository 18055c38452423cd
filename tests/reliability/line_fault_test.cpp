// The far end of the line going away: the frame call returns, reports the failure, and the
// driver goes on answering and trying new quadrants.
#include "interpose.h"
#include "protocol/driver_state.h"
#include "protocol/frame_encoder.h"
#include "support/driver_library.h"
#include "support/pty.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <iterator>
#include <memory>
#include <termios.h>
#include <thread>

namespace lcd {
namespace {

using test::image_for_quadrant;

TEST(LineFault, FarEndGoneBetweenFrames) {
    test::Pty pty;
    DriverState state{};
    ASSERT_EQ(open_port(state.port_handle, pty.path().c_str(), LINK_BAUD_RATE), OPEN_OK);
    const auto line = pty.during(FRAME_MIN_SIZE, [&] {
        EXPECT_EQ(send_frame(state, image_for_quadrant(0).data()), FRAME_SENT);
    });
    EXPECT_EQ(line.size(), FRAME_MIN_SIZE);

    pty.close_master();
    state.setting = {0x21, true};
    struct Step {
        int quadrant;
        FrameStatus status;
    };
    const Step steps[] = {{1, FRAME_WRITE_FAILED},
                          {1, FRAME_SAME_QUADRANT},
                          {2, FRAME_WRITE_FAILED},
                          {0, FRAME_WRITE_FAILED}};
    for (const Step &step : steps) {
        test::start_counting();
        EXPECT_EQ(send_frame(state, image_for_quadrant(step.quadrant).data()), step.status)
            << step.quadrant;
        // Each new quadrant is attempted again, in one write; a repeated one is not.
        EXPECT_EQ(test::stop_counting().writes, step.status == FRAME_SAME_QUADRANT ? 0u : 1u);
        EXPECT_EQ(state.last_quadrant, step.quadrant);
    }
    // The setting went out with the first failed frame; it is not held back for ever.
    EXPECT_FALSE(state.setting.pending);
    close_port(state.port_handle);
}

// The far end goes away while a frame is stuck in the write (nobody reading the line): the
// write comes back and the frames after it fail at once instead of hanging the host.
TEST(LineFault, FarEndGoneDuringAWrite) {
    test::Pty pty;
    // Shared with the sending thread, which outlives this test if its write never comes back.
    struct Run {
        DriverState state{};
        std::vector<FrameStatus> statuses;
    };
    auto run = std::make_shared<Run>();
    ASSERT_EQ(open_port(run->state.port_handle, pty.path().c_str(), LINK_BAUD_RATE), OPEN_OK);
    constexpr int FRAMES = 64; // far more than the terminal buffers
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread([run, done = std::move(done)]() mutable {
        for (int i = 0; i < FRAMES; ++i)
            run->statuses.push_back(send_frame(run->state, image_for_quadrant(i % 2).data()));
        done.set_value();
    }).detach();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(finished.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout)
        << "every frame fitted in the terminal's buffer: the write never blocked";
    pty.close_master();
    ASSERT_EQ(finished.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "the blocked write did not come back when the far end went away";

    const std::vector<FrameStatus> &statuses = run->statuses;
    ASSERT_EQ(statuses.size(), static_cast<std::size_t>(FRAMES));
    std::size_t sent = 0;
    while (sent < statuses.size() && statuses[sent] == FRAME_SENT)
        ++sent;
    ASSERT_LT(sent, statuses.size());
    for (std::size_t i = sent; i < statuses.size(); ++i) {
        const FrameStatus s = statuses[i];
        EXPECT_TRUE(s == FRAME_WRITE_FAILED || (i == sent && s == FRAME_WRITE_SHORT))
            << "frame " << i << ": " << s;
    }
    close_port(run->state.port_handle);
}

// A device that cannot make the rate takes the rest of the change and keeps its old rate: the
// open fails, and a user's terminal is left exactly as it was, not raw with echo off.
TEST(LineFault, RefusedRateLeavesTheTerminalAsItWas) {
    test::Pty pty;
    termios before = pty.settings();
    before.c_iflag |= ICRNL | IXON;
    before.c_oflag |= OPOST | ONLCR;
    before.c_lflag |= ECHO | ICANON | ISIG;
    before.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
    cfsetspeed(&before, B9600);
    ASSERT_EQ(tcsetattr(pty.master(), TCSANOW, &before), 0);
    before = pty.settings();

    PortHandle port = NO_PORT;
    test::refuse_line_rate(true);
    const OpenStatus opened = open_port(port, pty.path().c_str(), LINK_BAUD_RATE);
    test::refuse_line_rate(false);
    EXPECT_EQ(opened, STATE_WRITE_FAILED);
    EXPECT_EQ(port, NO_PORT);
    const termios after = pty.settings();
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_TRUE(std::equal(std::begin(after.c_cc), std::end(after.c_cc), std::begin(before.c_cc)));

    EXPECT_EQ(open_port(port, pty.path().c_str(), LINK_BAUD_RATE), OPEN_OK); // let go
    close_port(port);
}

// The same through the library as a host holds it: every entry point keeps answering, and a
// port that came back is not reopened behind the host's back.
TEST(LineFault, LibraryKeepsAnsweringAfterTheFarEndWentAway) {
    test::DriverLibrary driver;
    ASSERT_TRUE(driver.loaded()) << driver.error();
    test::Pty pty;
    test::u32 opened = 1;
    pty.during(INIT_SEQUENCE.size(), [&] { opened = driver.set_io(pty.path().c_str()); });
    ASSERT_EQ(opened, 0u);
    pty.close_master();

    for (int round = 0; round < 3; ++round) {
        for (int q = 0; q < 4; ++q) {
            test::start_counting();
            driver.send(image_for_quadrant(q).data());
            EXPECT_EQ(test::stop_counting().writes, 1u) << "quadrant " << q;
        }
        EXPECT_TRUE(driver.answers_every_entry_point());
        EXPECT_EQ(driver.set_io(pty.path().c_str(), 1, 5), 0u); // still held: nothing reopened
    }
}

} // namespace
} // namespace lcd
