// POSIX backend of the serial link (Linux build, its tests and tools). It stands in for the
// KERNEL32 serial calls of the Windows build and keeps their contract: exclusive access, the
// same line settings and timeouts, the same status codes, one write per transmission.
#include "serial_link.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace lcd {
namespace {

// VTIME is in tenths of a second: 5 gives the 500 ms total read timeout that the Windows
// build asks for with MAXDWORD, MAXDWORD, 500.
constexpr cc_t READ_TIMEOUT_DECISECONDS = 5;

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

// Releases exclusivity before closing, so the device can be opened again afterwards.
void release(int fd) {
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    close(fd);
}

void apply_line_settings(termios &tio, speed_t speed) {
    // 8N1 without RTS/CTS: the Windows build's ByteSize 8, NOPARITY, ONESTOPBIT, no CTS flow.
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8;
    // A Windows port is binary-clean; a POSIX terminal is not unless told. The frames carry
    // every byte value, so 0x0A must not become 0x0D 0x0A, nothing may be echoed or turned
    // into a signal, and a 0x13 from the far end must not stall the output.
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF | IXANY);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = READ_TIMEOUT_DECISECONDS;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
}

} // namespace

OpenStatus open_port(PortHandle &port_handle, const char *port_name, std::uint32_t baud) {
    close_port(port_handle);
    if (port_name == nullptr || port_name[0] == '\0')
        return OPEN_FAILED;

    // O_NONBLOCK so the open does not wait for carrier; cleared again below so that each
    // transmission is one blocking write, as on Windows.
    const int fd = open(port_name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return OPEN_FAILED;

    // Exclusive access, like share mode 0 on Windows. flock stops a second opener that also
    // locks (this driver, even as root); TIOCEXCL stops any other non-root opener.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || (ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY)) {
        close(fd);
        return OPEN_FAILED;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        release(fd);
        return OPEN_FAILED;
    }

    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        release(fd);
        return STATE_READ_FAILED;
    }
    speed_t speed{};
    if (!baud_constant(baud, speed)) {
        release(fd);
        return STATE_WRITE_FAILED;
    }
    apply_line_settings(tio, speed);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        release(fd);
        return STATE_WRITE_FAILED;
    }
    // tcsetattr succeeds when any part of the change took; check the rate really did.
    termios applied{};
    if (tcgetattr(fd, &applied) != 0 || cfgetospeed(&applied) != speed) {
        release(fd);
        return STATE_WRITE_FAILED;
    }

    port_handle = fd;
    return OPEN_OK;
}

WriteStatus write_bytes(PortHandle port_handle, const std::uint8_t *data, std::uint32_t n) {
    if (port_handle == NO_PORT)
        return WRITE_NO_PORT;
    ssize_t written;
    do {
        written = write(static_cast<int>(port_handle), data, n);
    } while (written < 0 && errno == EINTR);
    if (written < 0)
        return WRITE_FAILED;
    return static_cast<std::uint32_t>(written) == n ? WRITE_OK : WRITE_SHORT;
}

void close_port(PortHandle &port_handle) {
    if (port_handle == NO_PORT)
        return;
    release(static_cast<int>(port_handle));
    port_handle = NO_PORT;
}

} // namespace lcd
