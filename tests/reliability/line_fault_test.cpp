// The far end of the line going away and coming back: the frame call returns within its
// bound, reports the failure, gives the port up, and gets it back by the host's port name.
#include "driver/frame_call.h"
#include "driver/port_setup.h"
#include "interpose.h"
#include "support/driver_library.h"
#include "support/pty.h"
#include "support/reference_encoder.h"
#include "support/test_images.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <future>
#include <iterator>
#include <memory>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace lcd {
namespace {

using test::append;
using test::Bytes;
using test::image_for_quadrant;
using test::PortName;
using Clock = std::chrono::steady_clock;

using test::INIT;

// How the port is lost, or not got, in LineFault.PortTriedAgainAfterAFault.
enum class Fault { STOPS_READING, GOES_AWAY, GONE_AT_THE_RETRY, RATE_REFUSED, INIT_FAILS };

// A fault, what the failing call answers, and when the port is tried again: plain milliseconds
// from that call's end, on the driver's clock moved by hand. The far end is back before then:
// nothing reaches it a millisecond early, and on time the port opens (a cut stream ended by the
// resync byte), the controller is initialised, and the quadrant goes out with its setting.
TEST(LineFault, PortTriedAgainAfterAFault) {
    struct Row {
        Fault fault;
        std::uint32_t status; // the failing call's: a FrameStatus, or the set-up's result
        int os_error;
        std::uint64_t wait_ms;
    };
    const Row rows[] = {
        {Fault::STOPS_READING, FRAME_WRITE_SHORT, 0, 1000},
        {Fault::GOES_AWAY, FRAME_WRITE_FAILED, EIO, 1000},
        {Fault::GONE_AT_THE_RETRY, FRAME_NO_PORT, ENOENT, 80},
        {Fault::RATE_REFUSED, STATE_WRITE_FAILED, 0, 1000},
        {Fault::INIT_FAILS, INIT_NOT_SENT, EIO, 1000},
    };
    const test::Image image = test::random_bits_image(9, 2);
    for (const Row &row : rows) {
        SCOPED_TRACE(static_cast<int>(row.fault));
        const PortName name;
        auto pty = std::make_unique<test::Pty>();
        name.point_at(*pty);
        DriverState state{};
        std::uint64_t now = 50'000;
        test::refuse_line_rate(row.fault == Fault::RATE_REFUSED);
        test::fail_writes(row.fault == Fault::INIT_FAILS ? EIO : 0);
        SetUpResult failed = set_io_properties(state, name.path().c_str(), 1, 0x5C);
        test::refuse_line_rate(false);
        test::fail_writes(0);
        if (row.fault < Fault::RATE_REFUSED) {
            pty->drain(); // the initialisation
            if (row.fault == Fault::STOPS_READING) {
                pty->fill();
            } else {
                pty->close_master();
                name.remove();
            }
            FrameResult frame = send_frame(state, image.data(), now);
            if (row.fault == Fault::GONE_AT_THE_RETRY) {
                call_ended(state, now);
                now += 1000;
                frame = send_frame(state, image.data(), now);
            }
            failed = {frame.status, frame.fault.os_error};
            EXPECT_EQ(frame.fault.write_cut, row.fault == Fault::STOPS_READING);
        }
        EXPECT_EQ(failed.status, row.status);
        EXPECT_EQ(failed.os_error, static_cast<std::uint32_t>(row.os_error));
        EXPECT_FALSE(port_held(state.link));
        call_ended(state, now);

        if (row.fault == Fault::STOPS_READING) {
            pty->drain();
        } else if (row.fault < Fault::RATE_REFUSED) {
            pty = std::make_unique<test::Pty>();
            name.point_at(*pty);
        }
        now += row.wait_ms - 1;
        EXPECT_TRUE(pty->during(0, [&] { send_frame(state, image.data(), now); }).empty());
        Bytes expected = row.fault == Fault::RATE_REFUSED ? Bytes{} : Bytes{RESYNC_BYTE};
        append(expected, INIT);
        append(expected, test::reference_frame(image, 2, 0x5C));
        now += 1;
        EXPECT_EQ(pty->during(expected.size(), [&] { send_frame(state, image.data(), now); }),
                  expected);
        close_port(state.link);
    }
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
    ASSERT_EQ(open_port(run->state.link, pty.path().c_str(), LINK_BAUD_RATE).status, OPEN_OK);
    constexpr int FRAMES = 64; // far more than the terminal buffers
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread([run, done = std::move(done)]() mutable {
        for (int i = 0; i < FRAMES; ++i)
            run->statuses.push_back(
                send_frame(run->state, image_for_quadrant(i % 2).data(), 0).status);
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
    // The cut frame gave the port up; no name was given, so the rest find none.
    EXPECT_TRUE(statuses[sent] == FRAME_WRITE_FAILED || statuses[sent] == FRAME_WRITE_SHORT)
        << statuses[sent];
    for (std::size_t i = sent + 1; i < statuses.size(); ++i)
        EXPECT_EQ(statuses[i], FRAME_NO_PORT) << "frame " << i;
    close_port(run->state.link);
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

    Link port{};
    test::refuse_line_rate(true);
    const OpenStatus opened = open_port(port, pty.path().c_str(), LINK_BAUD_RATE).status;
    test::refuse_line_rate(false);
    EXPECT_EQ(opened, STATE_WRITE_FAILED);
    EXPECT_FALSE(port_held(port));
    const termios after = pty.settings();
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_TRUE(std::equal(std::begin(after.c_cc), std::end(after.c_cc), std::begin(before.c_cc)));

    EXPECT_EQ(open_port(port, pty.path().c_str(), LINK_BAUD_RATE).status,
              OPEN_OK); // let go
    close_port(port);
}

// The host draws `image` every 100 ms until `expected` has arrived on `pty`, or a deadline
// passes; returns what arrived and how long it took.
constexpr auto DRAW_EVERY = std::chrono::milliseconds(100);
// The longest a port that appears may wait for its first frame, with a host drawing as above.
constexpr long long BACK_WITHIN_MS = 500;
Bytes draw_until(const test::DriverLibrary &driver, const test::Image &image, test::Pty &pty,
                 std::size_t expected, std::chrono::milliseconds &took) {
    const auto start = Clock::now();
    Bytes line;
    while (line.size() < expected && Clock::now() - start < std::chrono::seconds(10)) {
        driver.send(image.data());
        append(line, pty.read(expected - line.size(), DRAW_EVERY));
    }
    took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    return line;
}

// Unplugged and plugged back in, through the library as a host holds it: while the device is
// gone every call returns at once (no port, nothing tried between the retries) and every entry
// point answers; once a new terminal is behind the name, a frame call within BACK_WITHIN_MS
// opens it, ends the cut stream, initialises the controller and draws the host's image, with
// the setting recorded while the device was away.
TEST(LineFault, AdapterUnpluggedAndPluggedBackIn) {
    test::DriverLibrary driver;
    ASSERT_TRUE(driver.loaded()) << driver.error();
    const PortName name;
    auto first = std::make_unique<test::Pty>();
    name.point_at(*first);
    test::u32 opened = 1;
    first->during(INIT.size(), [&] { opened = driver.set_io(name.path().c_str()); });
    ASSERT_EQ(opened, 0u);
    first->close_master();
    first.reset();
    name.remove();

    // The host reads why: the failed write's error, kept while no port is held, then that of
    // the attempt to open the port again.
    const auto bound = std::chrono::milliseconds(WRITE_TIMEOUT_MS + 500);
    for (int i = 0; i < 8; ++i) {
        const auto start = Clock::now();
        EXPECT_EQ(test::error_after([&] { driver.send(image_for_quadrant(i % 4).data()); }), EIO)
            << "frame " << i;
        EXPECT_LT(Clock::now() - start, bound) << "frame " << i;
        EXPECT_TRUE(driver.answers_every_entry_point());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(PORT_RETRY_INTERVAL_MS));
    EXPECT_EQ(test::error_after([&] { driver.send(image_for_quadrant(0).data()); }), ENOENT);
    // The host picks the port again while it is away: tried at once, still not there.
    EXPECT_EQ(driver.set_io(name.path().c_str(), 1, 0x66), 1u);

    test::Pty second;
    name.point_at(second);
    const test::Image image = test::random_bits_image(5, 2);
    Bytes expected{RESYNC_BYTE};
    append(expected, INIT);
    append(expected, test::reference_frame(image, 2, 0x66));
    std::chrono::milliseconds took{};
    const Bytes line = draw_until(driver, image, second, expected.size(), took);
    EXPECT_EQ(line, expected);
    EXPECT_LE(took.count(), BACK_WITHIN_MS);
    std::cout << "the panel drew again " << took.count() << " ms after the device returned\n";
}

// The port opens but the initialisation does not go out (the device went away in between): the
// set-up answers 4 with the write's error, which the frame calls keep while no port is held
// (the retry itself is a row of PortTriedAgainAfterAFault).
TEST(LineFault, InitialisationNotSentLetsThePortGo) {
    test::DriverLibrary driver;
    ASSERT_TRUE(driver.loaded()) << driver.error();
    test::Pty pty;
    test::u32 result = 0;
    test::fail_writes(EIO);
    const int error =
        test::error_after([&] { result = driver.set_io(pty.path().c_str(), 1, 0x35); });
    test::fail_writes(0);
    EXPECT_EQ(result, static_cast<test::u32>(INIT_NOT_SENT));
    EXPECT_EQ(error, EIO);
    EXPECT_EQ(test::error_after([&] { driver.send(image_for_quadrant(1).data()); }), EIO);
}

// The adapter is not there yet when the host sets the port up: the set-up fails, the host
// never calls it again, and the frame calls bring the port up once it appears, with the
// setting of the failed call.
TEST(LineFault, AdapterArrivesAfterTheHostStarted) {
    test::DriverLibrary driver;
    ASSERT_TRUE(driver.loaded()) << driver.error();
    const PortName name;
    EXPECT_EQ(driver.set_io(name.path().c_str(), 1, 0x31), 1u);
    test::start_counting();
    driver.send(image_for_quadrant(1).data());
    EXPECT_EQ(test::stop_counting().writes, 0u);

    test::Pty pty;
    name.point_at(pty);
    const test::Image image = test::random_bits_image(6, 1);
    Bytes expected = INIT;
    append(expected, test::reference_frame(image, 1, 0x31));
    std::chrono::milliseconds took{};
    EXPECT_EQ(draw_until(driver, image, pty, expected.size(), took), expected);
    EXPECT_LE(took.count(), BACK_WITHIN_MS);

    // The port is up now: a later set-up call naming another one records its setting only,
    // and the next frame goes to the same port with it.
    EXPECT_EQ(driver.set_io("/dev/lcd-driver-no-such-port", 1, 0x32), 0u);
    const test::Image next = test::random_bits_image(7, 3);
    expected = test::reference_frame(next, 3, 0x32);
    EXPECT_EQ(draw_until(driver, next, pty, expected.size(), took), expected);
}

} // namespace
} // namespace lcd
