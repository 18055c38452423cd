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

// The longest one write_bytes call may block the host's thread. The largest transmission, a
// frame of 20,164 bytes, is 67 ms of line time at LINK_BAUD_RATE (10 bits a byte), so 1 s lets
// it through fifteen times over, room for a USB adapter's latency and a busy machine, while a
// far end that stopped reading (a hung controller, a wedged adapter) gives the host its thread
// back within a second instead of never. Closing the port waits no longer either.
inline constexpr std::uint32_t WRITE_TIMEOUT_MS = 1000;

// How far the rate a port reports after the change may be from the rate asked for. An 8N1
// character is 10 bits and the receiver samples each in its middle, so the two ends may differ
// by under half a bit in ten, 5 %, in all; 3 % on the driver's side leaves the controller 2 %
// and still takes the few per cent by which USB adapters' divisors round the rate.
inline constexpr std::uint32_t RATE_TOLERANCE_PERCENT = 3;

// Whether a port that reports `reported` after being asked for `asked` runs the line.
constexpr bool rate_within_tolerance(std::uint32_t asked, std::uint32_t reported) {
    const std::uint64_t off = asked > reported ? asked - reported : reported - asked;
    return off * 100 <= std::uint64_t{asked} * RATE_TOLERANCE_PERCENT;
}

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
// Whatever an earlier program left on the port that could stall or alter the output (XON/XOFF,
// DSR flow control, parity checking, a wait for carrier) is switched off, and writes are
// bounded by WRITE_TIMEOUT_MS; a POSIX terminal is also made binary-clean (no output
// processing, echo, signals or line editing). Every other setting stays as read. The settings
// are read back: a port that does not run at `baud` (within RATE_TOLERANCE_PERCENT), 8N1, or
// whose write timeouts cannot be set, gives STATE_WRITE_FAILED and is closed, so the host's
// writes are never unbounded and never garbage on the wrong rate. A port already held in
// `port_handle` is closed first. On any failure `port_handle` is left as NO_PORT and the line
// settings as they were (on Windows the timeouts, set first, stay set). A null `port_name`
// gives OPEN_FAILED.
OpenStatus open_port(PortHandle &port_handle, const char *port_name, std::uint32_t baud);

// Writes `n` bytes from `data` as one transmission: one write call when the port takes it
// whole; when the device takes it in pieces, the rest follows within this call. Returns within
// WRITE_TIMEOUT_MS: what the port has not taken by then is dropped (WRITE_SHORT). With no port
// held, nothing is attempted and WRITE_NO_PORT is returned.
WriteStatus write_bytes(PortHandle port_handle, const std::uint8_t *data, std::uint32_t n);

// Closes the held port, if any, and sets `port_handle` to NO_PORT. A POSIX terminal first
// sends what it still holds, for up to WRITE_TIMEOUT_MS.
void close_port(PortHandle &port_handle);

// Lets go of the port at once after a failed or short write: what the device still holds is
// thrown away instead of waited for (a device that stopped taking bytes would hold the caller
// another write timeout), and `port_handle` becomes NO_PORT.
void drop_port(PortHandle &port_handle);

// The host set its port up again. A link that stopped offering its port for good (the
// preview's viewer, once the user closed its window) offers it again; a serial port has
// nothing to do.
void port_set_up_again();

// Milliseconds from a fixed point, never going back (GetTickCount64 on Windows,
// CLOCK_MONOTONIC on POSIX): the driver times its attempts to get a lost port back on it.
std::uint64_t monotonic_ms();

// Whether `port_handle` is a port this process opened. A forked child inherits its parent's
// descriptor, and with it the parent's lock on the device: it must neither sign off on that
// port nor let go of the lock (close_port then closes only the child's copy). On Windows a
// port handle is never inherited, so there this is whether a port is held.
bool port_opened_here(PortHandle port_handle);

} // namespace lcd
