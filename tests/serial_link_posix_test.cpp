#include "link/serial_link.h"
#include "protocol/protocol.h"
#include "support/pty.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace lcd {
namespace {

using test::Bytes;

TEST(SerialLinkPosix, OpenConfiguresTheLine) {
    test::Pty pty;
    // Start from a terminal set up the way a Linux tty comes up, with things worth keeping.
    termios before = pty.settings();
    before.c_cflag |= PARENB | CSTOPB | CRTSCTS | CLOCAL;
    before.c_oflag |= OPOST | ONLCR;
    before.c_lflag |= ECHO | ICANON;
    before.c_cc[VINTR] = 0x03;
    cfsetospeed(&before, B9600);
    ASSERT_EQ(tcsetattr(pty.master(), TCSANOW, &before), 0);

    PortHandle port = NO_PORT;
    ASSERT_EQ(open_port(port, pty.path().c_str(), LINK_BAUD_RATE), OPEN_OK);
    const termios tio = pty.settings();
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B3000000));
    EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B3000000));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IXON), 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 5);
    // Settings the controller does not care about stay as they were.
    EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(tio.c_cc[VINTR], 0x03);
    close_port(port);
    EXPECT_EQ(port, NO_PORT);
}

TEST(SerialLinkPosix, WholeFrameArrivesInOneWriteBinaryClean) {
    test::Pty pty;
    PortHandle port = NO_PORT;
    ASSERT_EQ(open_port(port, pty.path().c_str(), LINK_BAUD_RATE), OPEN_OK);

    Bytes frame(FRAME_MIN_SIZE);
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8)); // every value, 0x0A and 0x0D too
    // What one write of `n` bytes puts on the line.
    const auto write_all = [&](const std::uint8_t *bytes, std::size_t n) {
        return pty.during(n, [&] {
            EXPECT_EQ(write_bytes(port, bytes, static_cast<std::uint32_t>(n)), WRITE_OK);
        });
    };
    EXPECT_EQ(write_all(frame.data(), frame.size()), frame);
    EXPECT_EQ(write_all(INIT_SEQUENCE.data(), INIT_SEQUENCE.size()),
              Bytes(INIT_SEQUENCE.begin(), INIT_SEQUENCE.end()));
    close_port(port);
}

TEST(SerialLinkPosix, HeldPortCannotBeOpenedTwice) {
    test::Pty pty;
    PortHandle first = NO_PORT;
    PortHandle second = NO_PORT;
    ASSERT_EQ(open_port(first, pty.path().c_str(), LINK_BAUD_RATE), OPEN_OK);
    // Also as root, who is not stopped by TIOCEXCL: the lock is what refuses.
    EXPECT_EQ(open_port(second, pty.path().c_str(), LINK_BAUD_RATE), OPEN_FAILED);
    EXPECT_EQ(second, NO_PORT);

    close_port(first);
    EXPECT_EQ(open_port(second, pty.path().c_str(), LINK_BAUD_RATE), OPEN_OK);
    close_port(second);
}

TEST(SerialLinkPosix, ReopeningReleasesTheOldPortFirst) {
    test::Pty a;
    test::Pty b;
    PortHandle port = NO_PORT;
    ASSERT_EQ(open_port(port, a.path().c_str(), LINK_BAUD_RATE), OPEN_OK);
    ASSERT_EQ(open_port(port, b.path().c_str(), LINK_BAUD_RATE), OPEN_OK);
    PortHandle other = NO_PORT;
    EXPECT_EQ(open_port(other, a.path().c_str(), LINK_BAUD_RATE), OPEN_OK); // a was let go
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

    struct Case {
        const char *name;
        std::uint32_t baud;
        OpenStatus status;
    };
    const Case cases[] = {
        {"/dev/lcd-driver-no-such-port", LINK_BAUD_RATE, OPEN_FAILED},
        {nullptr, LINK_BAUD_RATE, OPEN_FAILED},
        {"", LINK_BAUD_RATE, OPEN_FAILED},
        {"/tmp", LINK_BAUD_RATE, OPEN_FAILED},
        {long_name.c_str(), LINK_BAUD_RATE, OPEN_FAILED},
        {file_template, LINK_BAUD_RATE, STATE_READ_FAILED},
        {"/dev/null", LINK_BAUD_RATE, STATE_READ_FAILED},
        {pty.path().c_str(), 12345, STATE_WRITE_FAILED},
    };
    for (const Case &c : cases) {
        PortHandle port = NO_PORT;
        EXPECT_EQ(open_port(port, c.name, c.baud), c.status) << (c.name ? c.name : "(null)");
        EXPECT_EQ(port, NO_PORT);
    }
    unlink(file_template);

    // A failed set-up lets go of the device again.
    PortHandle port = NO_PORT;
    EXPECT_EQ(open_port(port, pty.path().c_str(), LINK_BAUD_RATE), OPEN_OK);
    close_port(port);
}

TEST(SerialLinkPosix, WritesReportNoPortAndFailure) {
    const std::uint8_t byte = 0x55;
    EXPECT_EQ(write_bytes(NO_PORT, &byte, 1), WRITE_NO_PORT);

    test::Pty pty;
    PortHandle port = NO_PORT;
    ASSERT_EQ(open_port(port, pty.path().c_str(), LINK_BAUD_RATE), OPEN_OK);
    pty.close_master();
    EXPECT_EQ(write_bytes(port, &byte, 1), WRITE_FAILED);
    close_port(port);
    PortHandle none = NO_PORT;
    close_port(none); // closing nothing is harmless
    EXPECT_EQ(none, NO_PORT);
}

} // namespace
} // namespace lcd
