// The serial link: the one port the driver writes the controller's byte stream to.
//
// One small interface with one backend per platform (serial_link_win32.cpp over KERNEL32,
// serial_link_posix.cpp over termios), chosen at build time. This header pulls in no
// platform headers, so the protocol layer can use it and stay platform-free.
#pragma once

#include <cstdint>

namespace lcd {

// The OS handle of the open port: a HANDLE on Windows, a file descriptor on POSIX.
// Both platforms use -1 as "no handle" (INVALID_HANDLE_VALUE, or an invalid descriptor).
using PortHandle = std::intptr_t;
inline constexpr PortHandle NO_PORT = -1;

// The controller's line rate.
inline constexpr std::uint32_t LINK_BAUD_RATE = 3'000'000;

// Result of open_port: 0 on success, otherwise the stage at which opening failed.
enum OpenStatus : std::uint32_t {
    OPEN_OK = 0,            // port open and configured; the handle is held
    OPEN_FAILED = 1,        // the port did not open (missing, busy, or not a port)
    STATE_READ_FAILED = 2,  // reading the port's line settings failed
    STATE_WRITE_FAILED = 3, // applying the changed line settings failed
};

// Result of write_bytes: 0 on success, negative on failure.
enum WriteStatus : std::int32_t {
    WRITE_OK = 0,       // all requested bytes written
    WRITE_SHORT = -1,   // the write succeeded but took fewer bytes than requested
    WRITE_FAILED = -2,  // the write call failed
    WRITE_NO_PORT = -3, // no port is held; nothing was attempted
};

// Opens `port_name` exclusively and configures it: `baud`, 8 data bits, no parity, one stop
// bit, no CTS output flow control, no abort-on-error; read timeouts MAXDWORD, MAXDWORD, 500 ms.
// A port already held in `port_handle` is closed first. On any failure `port_handle` is left
// as NO_PORT. A null `port_name` gives OPEN_FAILED.
OpenStatus open_port(PortHandle &port_handle, const char *port_name, std::uint32_t baud);

// Writes `n` bytes from `data` in exactly one write call. With no port held, nothing is
// attempted and WRITE_NO_PORT is returned.
WriteStatus write_bytes(PortHandle port_handle, const std::uint8_t *data, std::uint32_t n);

// Closes the held port, if any, and sets `port_handle` to NO_PORT.
void close_port(PortHandle &port_handle);

} // namespace lcd
