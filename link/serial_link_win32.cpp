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

    // Reads return at once with what is there (MAXDWORD, MAXDWORD, 500 ms). The write timeouts
    // stay as the port had them; if they could not be read they are written back as zero
    // (no write timeout). Neither result is acted on: a port that cannot take timeouts can
    // still carry the frames.
    COMMTIMEOUTS timeouts{};
    GetCommTimeouts(port, &timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = READ_TOTAL_TIMEOUT_MS;
    SetCommTimeouts(port, &timeouts);

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        CloseHandle(port);
        return STATE_READ_FAILED;
    }
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(port, &dcb)) {
        CloseHandle(port);
        return STATE_WRITE_FAILED;
    }

    port_handle = reinterpret_cast<PortHandle>(port);
    return OPEN_OK;
}

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

} // namespace lcd
