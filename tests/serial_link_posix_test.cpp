#include "link/serial_link.h"
#include "protocol/protocol.h"
#include "support/pty.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <future>
#include <thread>
#include <unistd.h>

namespace lcd {
namespace {

using test::Bytes;

// The open and a transmission's write: their statuses.
OpenStatus open_status(Link &link, const char *name, std::uint32_t baud = LINK_BAUD_RATE) {
    return open_port(link, name, baud).status;
}
WriteStatus write_status(Link &link, const std::uint8_t *data, std::uint32_t n) {
    return write_bytes(link, data, n, WRITE_TIMEOUT_MS).status;
}

// What one write of `bytes` to `port` puts on the line.
Bytes written(test::Pty &pty, Link &port, const Bytes &bytes) {
    return pty.during(bytes.size(), [&] {
        EXPECT_EQ(write_status(port, bytes.data(), static_cast<std::uint32_t>(bytes.size())),
                  WRITE_OK);
    });
}

// A frame of every byte value, 0x0A, 0x0D, 0x11 and 0x13 too.
Bytes test_frame(std::size_t size, std::uint8_t seed = 0) {
    Bytes frame(size);
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8) + seed);
    return frame;
}

TEST(SerialLinkPosix, OpenConfiguresADirtyLine) {
    test::Pty pty;
    // Start from a terminal as an earlier program may leave it: cooked, echoing, XON/XOFF
    // both ways, RTS/CTS, parity, modem lines watched, receiver off; with things worth keeping.
    termios before = pty.settings();
    before.c_cflag |= PARENB | CSTOPB | CRTSCTS;
    before.c_cflag &= ~static_cast<tcflag_t>(CLOCAL | CREAD);
    before.c_iflag |= IXON | IXOFF | IXANY | INPCK | ICRNL;
    before.c_oflag |= OPOST | ONLCR;
    before.c_lflag |= ECHO | ICANON;
    before.c_cc[VINTR] = 0x03;
    cfsetospeed(&before, B9600);
    ASSERT_EQ(tcsetattr(pty.master(), TCSANOW, &before), 0);

    Link port{};
    ASSERT_EQ(open_status(port, pty.path().c_str(), LINK_BAUD_RATE), OPEN_OK);
    const termios tio = pty.settings();
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B3000000));
    EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B3000000));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IXON | IXOFF | IXANY | INPCK), 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 5);
    // Settings the controller does not care about stay as they were.
    EXPECT_EQ(tio.c_cc[VINTR], 0x03);

    // The controller sends XOFF: the output does not stop (a pty's output stops for it only
    // with IXON on its terminal side, which the settings above show off).
    const std::uint8_t xoff = 0x13;
    ASSERT_EQ(::write(pty.master(), &xoff, 1), 1);
    const Bytes frame = test_frame(FRAME_MIN_SIZE);
    EXPECT_TRUE(written(pty, port, frame) == frame) << "the frame after XOFF did not arrive whole";
    close_port(port);
    EXPECT_FALSE(port_held(port));
}

TEST(SerialLinkPosix, WholeFrameArrivesBinaryClean) {
    test::Pty pty;
    Link port{};
    ASSERT_EQ(open_status(port, pty.path().c_str(), LINK_BAUD_RATE), OPEN_OK);

    const Bytes frame = test_frame(FRAME_MAX_SIZE);
    EXPECT_EQ(written(pty, port, frame), frame);
    const Bytes init(INIT_SEQUENCE.begin(), INIT_SEQUENCE.end());
    EXPECT_EQ(written(pty, port, init), init);
    close_port(port);
}

// The terminal takes about 12 KB at a time. Frames written while nobody reads wait inside
// write_bytes and go out whole once the far end reads again; a far end that never reads
// costs each call at most the write timeout.
TEST(SerialLinkPosix, WritesWaitForTheFarEndWithinTheirDeadline) {
    using namespace std::chrono;
    test::Pty pty;
    Link port{};
    ASSERT_EQ(open_status(port, pty.path().c_str(), LINK_BAUD_RATE), OPEN_OK);
    constexpr int FRAMES = 4;
    Bytes expected;
    auto line = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(milliseconds(300)); // the far end is late
        return pty.read(FRAMES * FRAME_MAX_SIZE);
    });
    for (int i = 0; i < FRAMES; ++i) {
        const Bytes frame = test_frame(FRAME_MAX_SIZE, static_cast<std::uint8_t>(i));
        expected.insert(expected.end(), frame.begin(), frame.end());
        EXPECT_EQ(write_status(port, frame.data(), FRAME_MAX_SIZE), WRITE_OK) << i;
    }
    EXPECT_TRUE(line.get() == expected) << "the frames taken in pieces arrived altered";

    const milliseconds bound(WRITE_TIMEOUT_MS + 500);
    int cut_short = 0;
    for (int i = 0; i < 3; ++i) {
        const Bytes frame = test_frame(FRAME_MAX_SIZE);
        const auto start = steady_clock::now();
        const WriteStatus status = write_status(port, frame.data(), FRAME_MAX_SIZE);
        const auto took = duration_cast<milliseconds>(steady_clock::now() - start);
        EXPECT_LT(took, bound) << i;
        EXPECT_TRUE(status == WRITE_OK || status == WRITE_SHORT) << i << ": " << status;
        cut_short += status == WRITE_SHORT ? 1 : 0;
    }
    EXPECT_GE(cut_short, 2) << "the terminal took frames nobody read";
    close_port(port);
}

// The rate a port reports back after the change: the Windows open refuses the port outside
// the tolerance (a 16550 keeps 115,200). A reported 0 is no rate; the open takes it apart.
TEST(SerialLink, ReportedRateWithinTolerance) {
    struct Case {
        std::uint32_t reported;
        bool runs;
    };
    for (const Case c : {Case{3'000'000, true}, Case{2'910'000, true}, Case{3'090'000, true},
                         Case{2'909'999, false}, Case{3'090'001, false}, Case{115'200, false},
                         Case{0, false}, Case{4'000'000, false}})
        EXPECT_EQ(rate_within_tolerance(LINK_BAUD_RATE, c.reported), c.runs) << c.reported;
}

TEST(SerialLinkPosix, HeldPortCannotBeOpenedTwice) {
    test::Pty pty;
    Link first{};
    Link second{};
    ASSERT_EQ(open_status(first, pty.path().c_str(), LINK_BAUD_RATE), OPEN_OK);
    // Also as root, who is not stopped by TIOCEXCL: the lock is what refuses.
    const OpenResult refused = open_port(second, pty.path().c_str(), LINK_BAUD_RATE);
    EXPECT_EQ(refused.status, OPEN_FAILED);
    EXPECT_EQ(refused.os_error, static_cast<std::uint32_t>(EWOULDBLOCK));
    EXPECT_FALSE(port_held(second));

    close_port(first);
    EXPECT_EQ(open_status(second, pty.path().c_str(), LINK_BAUD_RATE), OPEN_OK);
    close_port(second);
}

TEST(SerialLinkPosix, ReopeningReleasesTheOldPortFirst) {
    test::Pty a;
    test::Pty b;
    Link port{};
    ASSERT_EQ(open_status(port, a.path().c_str(), LINK_BAUD_RATE), OPEN_OK);
    ASSERT_EQ(open_status(port, b.path().c_str(), LINK_BAUD_RATE), OPEN_OK);
    Link other{};
    EXPECT_EQ(open_status(other, a.path().c_str(), LINK_BAUD_RATE), OPEN_OK); // a was let go
    close_port(other);
    close_port(port);
}

TEST(SerialLinkPosix, BadPortsGiveTheirStatus) {
    char file_template[] = "/tmp/lcd_link_test_XXXXXX";
    const int file = mkstemp(file_template);
    ASSERT_GE(file, 0);
    close(file);
    const std::string long_name = "/dev/" + std::string(5000, 'x');
    test::Pty pty;

    // The OS error is the one of the step that failed: the open, reading the line settings
    // (a file or a device that is not a terminal), or none for a rate the port cannot run.
    struct Case {
        const char *name;
        std::uint32_t baud;
        OpenStatus status;
        int error;
    };
    const Case cases[] = {
        {"/dev/lcd-driver-no-such-port", LINK_BAUD_RATE, OPEN_FAILED, ENOENT},
        {nullptr, LINK_BAUD_RATE, OPEN_FAILED, 0},
        {"", LINK_BAUD_RATE, OPEN_FAILED, ENOENT},
        {"/tmp", LINK_BAUD_RATE, OPEN_FAILED, EISDIR},
        {long_name.c_str(), LINK_BAUD_RATE, OPEN_FAILED, ENAMETOOLONG},
        {file_template, LINK_BAUD_RATE, STATE_READ_FAILED, ENOTTY},
        {"/dev/null", LINK_BAUD_RATE, STATE_READ_FAILED, ENOTTY},
        {pty.path().c_str(), 12345, STATE_WRITE_FAILED, 0},
    };
    for (const Case &c : cases) {
        Link port{};
        const OpenResult opened = open_port(port, c.name, c.baud);
        EXPECT_EQ(opened.status, c.status) << (c.name ? c.name : "(null)");
        EXPECT_EQ(opened.os_error, static_cast<std::uint32_t>(c.error))
            << (c.name ? c.name : "(null)");
        EXPECT_FALSE(port_held(port));
    }
    unlink(file_template);

    // A failed set-up lets go of the device again.
    Link port{};
    EXPECT_EQ(open_status(port, pty.path().c_str(), LINK_BAUD_RATE), OPEN_OK);
    close_port(port);
}

TEST(SerialLinkPosix, WritesReportNoPortAndFailure) {
    const std::uint8_t byte = 0x55;
    Link none{};
    EXPECT_EQ(write_status(none, &byte, 1), WRITE_NO_PORT);

    test::Pty pty;
    Link port{};
    ASSERT_EQ(open_status(port, pty.path().c_str(), LINK_BAUD_RATE), OPEN_OK);
    EXPECT_FALSE(port_gone(port) || port_gone(none));
    pty.close_master();
    EXPECT_TRUE(port_gone(port)); // seen before any write
    const WriteResult failed = write_bytes(port, &byte, 1, WRITE_TIMEOUT_MS);
    EXPECT_EQ(failed.status, WRITE_FAILED);
    EXPECT_EQ(failed.os_error, static_cast<std::uint32_t>(EIO)); // the far end hung up
    close_port(port);
    close_port(none); // closing nothing is harmless
    EXPECT_FALSE(port_held(none));
}

} // namespace
} // namespace lcd
