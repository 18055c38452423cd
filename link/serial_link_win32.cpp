// Win32 backend of the serial link: exactly the KERNEL32 serial calls the controller's port
// needs, each result checked where the driver acts on it.
#include "port_name.h"
#include "serial_link.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace lcd {
namespace {

constexpr DWORD READ_TOTAL_TIMEOUT_MS = 500;

HANDLE to_handle(const Link &link) {
    return reinterpret_cast<HANDLE>(link.handle);
}

std::uint32_t last_error() {
    return static_cast<std::uint32_t>(GetLastError());
}

// Reads return at once with what is there (MAXDWORD, MAXDWORD, 500 ms). Every write is bounded
// by `bound_ms` in total, whatever an earlier program left: the multiplier counts whole
// milliseconds per byte, 300 times a byte's line time at 3,000,000 baud, so it is 0 and the
// constant carries the bound. Every field is set, so nothing is read first.
bool set_timeouts(HANDLE port, std::uint32_t bound_ms) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = READ_TOTAL_TIMEOUT_MS;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = bound_ms;
    return SetCommTimeouts(port, &timeouts) != FALSE;
}

// Closes `port` after a failed step of the open and returns that step's outcome, with the
// OS error read before the close can change it.
OpenResult refuse(HANDLE port, OpenStatus status, bool os_cause = true) {
    const std::uint32_t error = os_cause ? last_error() : 0;
    CloseHandle(port);
    return {status, error};
}

} // namespace

OpenResult open_port(Link &link, const char *port_name, std::uint32_t baud) {
    close_port(link);
    if (port_name == nullptr)
        return {OPEN_FAILED, 0};

    char path[DEVICE_PATH_CAPACITY];
    // Share mode 0: no other program may use the port while the driver holds it.
    const HANDLE port = CreateFileA(device_path(port_name, path), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        return {OPEN_FAILED, last_error()};

    // A port that does not take the timeouts is refused: its writes could hold the host for
    // ever.
    if (!set_timeouts(port, WRITE_TIMEOUT_MS))
        return refuse(port, STATE_WRITE_FAILED);

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb))
        return refuse(port, STATE_READ_FAILED);
    // The controller's line: the rate, 8N1, no waiting for CTS, no abort on a line error.
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fAbortOnError = FALSE;
    // What an earlier program may have left that stalls or alters the output:
    // - fOutX: a 0x13 from the controller would stop the output until a 0x11 came, and the
    //   host's next frame call with it;
    // - fInX: the port would send 0x13/0x11 of its own into the frame stream as its input
    //   fills, and the driver never reads, so it fills;
    // - fOutxDsrFlow: the output would wait for DSR, which the controller does not drive;
    // - fDsrSensitivity: the port would drop what arrives while DSR is low; nothing of the
    //   port should hang on a line the controller does not drive;
    // - fParity: parity checking on a line without parity;
    // - fBinary: the only mode Windows supports, set in case an earlier program cleared it.
    // fDtrControl and fRtsControl stay as read: they set only the modem lines' levels and the
    // port's own input flow, and an RS-485 adapter may rely on RTS toggling. So do fNull,
    // fErrorChar and fTXContinueOnXoff, which concern only the input.
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fParity = FALSE;
    dcb.fBinary = TRUE;
    // SetCommState succeeds on ports that quietly keep another rate (a 16550 tops out at
    // 115,200; some adapters round the rate): what the port runs is read back. A rate of 0 is
    // no rate a port runs at but one that could not be said: Wine under qemu-i386 hands the
    // kernel B0 for every rate above 460,800, on a terminal that then carries the bytes all
    // the same. It is taken, so the driver works there; any other rate must match.
    DCB applied{};
    applied.DCBlength = sizeof applied;
    if (!SetCommState(port, &dcb) || !GetCommState(port, &applied))
        return refuse(port, STATE_WRITE_FAILED);
    if ((applied.BaudRate != 0 && !rate_within_tolerance(baud, applied.BaudRate)) ||
        applied.ByteSize != 8 || applied.Parity != NOPARITY || applied.StopBits != ONESTOPBIT)
        return refuse(port, STATE_WRITE_FAILED, false);

    link.handle = reinterpret_cast<std::intptr_t>(port);
    link.write_bound_ms = WRITE_TIMEOUT_MS;
    return {OPEN_OK, 0};
}

// One WriteFile for the whole transmission. At the write timeout it returns with fewer bytes
// written than asked (WRITE_SHORT); the rest is not sent. Only TRUE counts as success: any
// other result, a nonzero one included, is a failed write. A bound other than the port's
// present one is given to the port first.
WriteResult write_bytes(Link &link, const std::uint8_t *data, std::uint32_t n,
                        std::uint32_t bound_ms) {
    if (!port_held(link))
        return {WRITE_NO_PORT, 0};
    if (bound_ms != link.write_bound_ms) {
        if (!set_timeouts(to_handle(link), bound_ms))
            return {WRITE_FAILED, last_error()};
        link.write_bound_ms = bound_ms;
    }
    DWORD written = 0;
    if (WriteFile(to_handle(link), data, n, &written, nullptr) != TRUE)
        return {WRITE_FAILED, last_error()};
    return {written == n ? WRITE_OK : WRITE_SHORT, 0};
}

bool port_held(const Link &link) {
    return to_handle(link) != INVALID_HANDLE_VALUE;
}

// A port whose device went away (a USB adapter pulled out) fails every request, this one
// too, which only reads the port's error and queue counts and writes nothing.
bool port_gone(const Link &link) {
    DWORD errors = 0;
    COMSTAT status{};
    return port_held(link) && !ClearCommError(to_handle(link), &errors, &status);
}

void close_port(Link &link) {
    if (!port_held(link))
        return;
    CloseHandle(to_handle(link));
    link = Link{};
}

void close_port_at_once(Link &link) {
    if (!port_held(link))
        return;
    PurgeComm(to_handle(link), PURGE_TXABORT | PURGE_TXCLEAR);
    close_port(link);
}

} // namespace lcd
