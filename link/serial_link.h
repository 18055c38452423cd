// The serial link: the one port the driver writes the controller's byte stream to.
//
// One small interface with one backend per platform (serial_link_win32.cpp over KERNEL32,
// serial_link_posix.cpp over termios; preview_link_win32.cpp for the preview driver), chosen
// at build time, each with its own state (link_state.h). The link opens, writes, closes and
// tells whether the port it holds is still there, nothing else. This header pulls in no
// platform headers, so the driver's state can hold a Link and stay platform-free.
#pragma once

#include "link/link_state.h"

#include <cstdint>

namespace lcd {

// The controller's line rate.
inline constexpr std::uint32_t LINK_BAUD_RATE = 3'000'000;

// The longest one write_bytes call may block the host's thread. The largest transmission, a
// frame of 20,164 bytes, is 67 ms of line time at LINK_BAUD_RATE (10 bits a byte), so 1 s lets
// it through fifteen times over, room for a USB adapter's latency and a busy machine, while a
// far end that stopped reading (a hung controller, a wedged adapter) gives the host its thread
// back within a second instead of never.
inline constexpr std::uint32_t WRITE_TIMEOUT_MS = 1000;

// The longest close_port waits for the device to send what it still holds before throwing the
// rest away: the unload closes after its sign-off (5 bytes, 17 us of line time), and must not
// wait on a line that stopped.
inline constexpr std::uint32_t CLOSE_DRAIN_MS = 20;

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
    OPEN_OK = 0,            // port open and configured, and held
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

// A link call's outcome: its status and the OS error behind a failure (GetLastError() or
// errno of the call that failed; 0 on success and for failures with no OS cause, such as a
// port that reports another rate after the change, or a write cut at its bound).
struct OpenResult {
    OpenStatus status;
    std::uint32_t os_error;
};
struct WriteResult {
    WriteStatus status;
    std::uint32_t os_error;
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
// `link` is closed first. On any failure no port is held and the line settings are as they
// were (on Windows the timeouts, set first, stay set). A null `port_name` gives OPEN_FAILED.
OpenResult open_port(Link &link, const char *port_name, std::uint32_t baud);

// Writes `n` bytes from `data` as one transmission: one write call when the port takes it
// whole; when the device takes it in pieces, the rest follows within this call. Returns within
// `bound_ms` (WRITE_TIMEOUT_MS for transmissions): what the port has not taken by then is
// dropped (WRITE_SHORT). With no port held, nothing is attempted and WRITE_NO_PORT is returned.
WriteResult write_bytes(Link &link, const std::uint8_t *data, std::uint32_t n,
                        std::uint32_t bound_ms);

// Whether a port is held that this process may write to.
bool port_held(const Link &link);

// Whether the held port's device has gone (a USB adapter pulled out), asked of the system
// without a byte on the wire; false when no port is held or the device is still there.
bool port_gone(const Link &link);

// Closes the port (and whatever else the link holds), if any. A POSIX terminal first sends
// what it still holds, for up to CLOSE_DRAIN_MS. A descriptor inherited from the parent
// process is only closed: the parent's lock on the device stays the parent's.
void close_port(Link &link);

// Closes the port at once, after a failed or short write or when its device has gone: what the
// device still holds is thrown away instead of waited for (a device that stopped taking bytes
// would hold the caller another write timeout).
void close_port_at_once(Link &link);

} // namespace lcd
