// POSIX backend of the serial link (Linux build, its tests and tools). It stands in for the
// KERNEL32 serial calls of the Windows build and keeps their contract: exclusive access, the
// same line settings and timeouts, the same status codes, one write per transmission, each
// write bounded by WRITE_TIMEOUT_MS.
#include "serial_link.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <type_traits>
#include <unistd.h>

namespace lcd {
namespace {

// VTIME is in tenths of a second: 5 is the 500 ms read timeout that the Windows build asks for
// with MAXDWORD, MAXDWORD, 500, for a blocking reader of the terminal. The driver's own
// descriptor is non-blocking and never reads.
constexpr cc_t READ_TIMEOUT_DECISECONDS = 5;

// How often a close looks whether the device has sent what it holds.
constexpr int DRAIN_POLL_MS = 5;

static_assert(std::is_same_v<pid_t, decltype(Link::opener_pid)>);

using Clock = std::chrono::steady_clock;

Clock::time_point deadline_after(std::uint32_t bound_ms) {
    return Clock::now() + std::chrono::milliseconds(bound_ms);
}

std::uint32_t last_error() {
    return static_cast<std::uint32_t>(errno);
}

// The descriptor is this process's own: not one inherited from the parent that opened it.
bool opened_here(const Link &link) {
    return link.fd >= 0 && link.opener_pid == getpid();
}

// Waits until `fd` takes output or `deadline` passes; false when it passed.
bool wait_writable(int fd, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd pfd{fd, POLLOUT, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(left.count()));
        if (ready > 0)
            return true; // writable, or hung up: the next write says which
        if (ready < 0 && errno != EINTR)
            return true; // let the write report the fault
    }
}

// Gives the device CLOSE_DRAIN_MS to send what it holds, then drops the rest. A close waits
// for that itself, up to 30 s on a UART by default: a wedged adapter would hold the host's
// unload that long.
void drain_within_deadline(int fd) {
    const Clock::time_point deadline = deadline_after(CLOSE_DRAIN_MS);
    int queued = 0;
    while (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        if (Clock::now() >= deadline) {
            tcflush(fd, TCOFLUSH);
            return;
        }
        poll(nullptr, 0, DRAIN_POLL_MS);
    }
}

bool baud_constant(std::uint32_t baud, speed_t &speed) {
    switch (baud) {
    case 9600:
        speed = B9600;
        return true;
    case 19200:
        speed = B19200;
        return true;
    case 38400:
        speed = B38400;
        return true;
    case 57600:
        speed = B57600;
        return true;
    case 115200:
        speed = B115200;
        return true;
    case 230400:
        speed = B230400;
        return true;
#ifdef B460800
    case 460800:
        speed = B460800;
        return true;
    case 921600:
        speed = B921600;
        return true;
    case 1000000:
        speed = B1000000;
        return true;
    case 2000000:
        speed = B2000000;
        return true;
    case 3000000:
        speed = B3000000;
        return true;
#endif
    default:
        return false;
    }
}

// Closes a descriptor this process opened, exclusivity released first so the device can be
// opened again afterwards. What the device still holds gets CLOSE_DRAIN_MS to go out, or with
// `at_once` is thrown away.
void close_descriptor(int fd, bool at_once = false) {
    if (at_once)
        tcflush(fd, TCOFLUSH);
    else
        drain_within_deadline(fd);
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    close(fd);
}

void apply_line_settings(termios &tio, speed_t speed) {
    // 8N1 without RTS/CTS: the Windows build's ByteSize 8, NOPARITY, ONESTOPBIT, no CTS flow.
    // CLOCAL and CREAD as a Windows port behaves: the modem status lines are ignored (with DCD
    // low a UART would otherwise hang up and every write fail) and the receiver is on.
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    // A Windows port is binary-clean; a POSIX terminal is not unless told. The frames carry
    // every byte value, so 0x0A must not become 0x0D 0x0A, nothing may be echoed or turned
    // into a signal, and a 0x13 from the far end must not stall the output.
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    // Nor may the port send 0x13/0x11 of its own into the stream (IXOFF).
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INPCK | INLCR |
                                          IGNCR | ICRNL | IXON | IXOFF | IXANY);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = READ_TIMEOUT_DECISECONDS;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
}

} // namespace

OpenResult open_port(Link &link, const char *port_name, std::uint32_t baud) {
    close_port(link);
    if (port_name == nullptr)
        return {OPEN_FAILED, 0};

    // O_NONBLOCK so the open does not wait for carrier, and kept so that every write can be
    // given a deadline (write_bytes): a blocking write to a far end that stopped reading would
    // never come back.
    const int fd = open(port_name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {OPEN_FAILED, last_error()};

    // Exclusive access, like share mode 0 on Windows. flock stops a second opener that also
    // locks (this driver, even as root); TIOCEXCL stops any other non-root opener.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || (ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY)) {
        const std::uint32_t error = last_error();
        close(fd);
        return {OPEN_FAILED, error};
    }

    termios original{};
    if (tcgetattr(fd, &original) != 0) {
        const std::uint32_t error = last_error();
        close_descriptor(fd);
        return {STATE_READ_FAILED, error};
    }
    speed_t speed{};
    if (!baud_constant(baud, speed)) {
        close_descriptor(fd);
        return {STATE_WRITE_FAILED, 0};
    }
    termios tio = original;
    apply_line_settings(tio, speed);
    // tcsetattr succeeds when any part of the change took; check the rate and the character
    // format really did (a UART that cannot make the rate keeps its own). A failure may leave
    // part of the change behind: the terminal gets back what it had (a user's own terminal
    // must not be left raw with echo off).
    termios applied{};
    std::uint32_t error = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0 || tcgetattr(fd, &applied) != 0)
        error = last_error();
    if (error != 0 || cfgetospeed(&applied) != speed ||
        (applied.c_cflag & (CSIZE | PARENB | CSTOPB)) != static_cast<tcflag_t>(CS8)) {
        tcsetattr(fd, TCSANOW, &original);
        close_descriptor(fd);
        return {STATE_WRITE_FAILED, error};
    }

    link.fd = fd;
    link.opener_pid = getpid();
    return {OPEN_OK, 0};
}

WriteResult write_bytes(Link &link, const std::uint8_t *data, std::uint32_t n,
                        std::uint32_t bound_ms) {
    if (!port_held(link))
        return {WRITE_NO_PORT, 0};
    const Clock::time_point deadline = deadline_after(bound_ms);
    std::uint32_t done = 0;
    for (;;) {
        const ssize_t written = write(link.fd, data + done, n - done);
        if (written >= 0) {
            done += static_cast<std::uint32_t>(written);
            if (done == n)
                return {WRITE_OK, 0};
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return {WRITE_FAILED, last_error()};
        }
        // The device took a piece or nothing, or a signal came: the rest goes as soon as it
        // takes more, within the deadline.
        if (!wait_writable(link.fd, deadline))
            return {WRITE_SHORT, 0};
    }
}

// An inherited descriptor is not held: the port and its lock are the parent's.
bool port_held(const Link &link) {
    return opened_here(link);
}

// A terminal whose device went away is hung up (a pulled USB adapter, a pseudo-terminal whose
// far side closed): poll reports it at once, and nothing is written.
bool port_gone(const Link &link) {
    if (!port_held(link))
        return false;
    pollfd pfd{link.fd, POLLOUT, 0};
    return poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

namespace {

void close_held_port(Link &link, bool at_once) {
    if (link.fd < 0)
        return;
    if (opened_here(link))
        close_descriptor(link.fd, at_once);
    else
        close(link.fd); // the parent's lock and exclusivity stay its own
    link = Link{};
}

} // namespace

void close_port(Link &link) {
    close_held_port(link, false);
}

void close_port_at_once(Link &link) {
    close_held_port(link, true);
}

} // namespace lcd
