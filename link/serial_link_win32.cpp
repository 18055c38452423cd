// Win32 backend of the serial link: exactly the KERNEL32 serial calls the controller's port
// needs, each result checked where the driver acts on it.
#include "port_name.h"
#include "serial_link.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace lcd {
namespace {

constexpr DWORD READ_TOTAL_TIMEOUT_MS = 500;

HANDLE to_handle(PortHandle port_handle) {
    return reinterpret_cast<HANDLE>(port_handle);
}

} // namespace

OpenStatus open_port(PortHandle &port_handle, const char *port_name, std::uint32_t baud) {
    close_port(port_handle);
    if (port_name == nullptr)
        return OPEN_FAILED;

    char path[DEVICE_PATH_CAPACITY];
    // Share mode 0: no other program may use the port while the driver holds it.
    const HANDLE port = CreateFileA(device_path(port_name, path), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        return OPEN_FAILED;

    // Reads return at once with what is there (MAXDWORD, MAXDWORD, 500 ms). Every write is
    // bounded by WRITE_TIMEOUT_MS in total, whatever an earlier program left: the multiplier
    // counts whole milliseconds per byte, 300 times a byte's line time at 3,000,000 baud, so it
    // is 0 and the constant carries the bound. Every field is set, so nothing is read first.
    // A port that does not take them is refused: its writes could hold the host for ever.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = READ_TOTAL_TIMEOUT_MS;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = WRITE_TIMEOUT_MS;
    if (!SetCommTimeouts(port, &timeouts)) {
        CloseHandle(port);
        return STATE_WRITE_FAILED;
    }

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        CloseHandle(port);
        return STATE_READ_FAILED;
    }
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
    if (!SetCommState(port, &dcb) || !GetCommState(port, &applied) ||
        (applied.BaudRate != 0 && !rate_within_tolerance(baud, applied.BaudRate)) ||
        applied.ByteSize != 8 || applied.Parity != NOPARITY || applied.StopBits != ONESTOPBIT) {
        CloseHandle(port);
        return STATE_WRITE_FAILED;
    }

    port_handle = reinterpret_cast<PortHandle>(port);
    return OPEN_OK;
}

// One WriteFile for the whole transmission. At the write timeout it returns with fewer bytes
// written than asked (WRITE_SHORT); the rest is not sent. Only TRUE counts as success: any
// other result, a nonzero one included, is a failed write.
WriteStatus write_bytes(PortHandle port_handle, const std::uint8_t *data, std::uint32_t n) {
    if (port_handle == NO_PORT)
        return WRITE_NO_PORT;
    DWORD written = 0;
    if (WriteFile(to_handle(port_handle), data, n, &written, nullptr) != TRUE)
        return WRITE_FAILED;
    return written == n ? WRITE_OK : WRITE_SHORT;
}

void close_port(PortHandle &port_handle) {
    if (port_handle == NO_PORT)
        return;
    CloseHandle(to_handle(port_handle));
    port_handle = NO_PORT;
}

void drop_port(PortHandle &port_handle) {
    if (port_handle == NO_PORT)
        return;
    PurgeComm(to_handle(port_handle), PURGE_TXABORT | PURGE_TXCLEAR);
    close_port(port_handle);
}

void port_set_up_again() {}

} // namespace lcd
