// lcdsim.exe's input from a COM port: the far end of a virtual null-modem pair whose other
// end the host drives, or a real port wired to the controller's line. Set up as the
// controller's end (the driver's rate, 8N1, no flow control) and read without blocking, in
// steps, so the window stays drawn while the line is quiet.
#include "input_win32.h"
#include "link/port_name.h"
#include "link/serial_link.h"
#include "win32_text.h"

#include <algorithm>

namespace lcd::sim {
namespace {

// How often a quiet port is looked at again. Windows sleeps in ticks of about 16 ms, in which
// 4.7 KB arrive at the driver's rate: the port's input queue is asked to hold far more.
constexpr std::chrono::milliseconds QUIET_POLL{10};
constexpr DWORD INPUT_QUEUE = 65536, OUTPUT_QUEUE = 4096;

class ComInput final : public Input {
  public:
    ComInput(HANDLE handle, std::string name) : handle_(handle) { name_ = std::move(name); }
    ~ComInput() override { CloseHandle(handle_); }

    ReadResult read(std::uint8_t *buffer, std::size_t size,
                    std::chrono::milliseconds wait) override {
        for (;;) {
            DWORD n = 0;
            const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 20));
            if (!ReadFile(handle_, buffer, asked, &n, nullptr)) {
                why_ = system_error_text(GetLastError());
                return {ReadStatus::Failed, 0};
            }
            if (n != 0)
                return {ReadStatus::Bytes, n};
            if (wait.count() <= 0)
                return {};
            const auto step = std::min(wait, QUIET_POLL);
            Sleep(static_cast<DWORD>(step.count()));
            wait -= step;
        }
    }
    bool live() const override { return true; }

  private:
    HANDLE handle_;
};

} // namespace

std::unique_ptr<Input> open_com_input(const std::string &name, std::string &why) {
    char device[DEVICE_PATH_CAPACITY];
    // Exclusive, as a port is: a second reader would take bytes from this one.
    const HANDLE handle =
        CreateFileW(widen(device_path(name.c_str(), device)).c_str(), GENERIC_READ | GENERIC_WRITE,
                    0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        why = "cannot open " + name + ": ";
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            why += lcd::tool::no_such_port_text();
        else if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            why += "in use by another program";
        else
            why += system_error_text(error);
        return nullptr;
    }
    // Everything the line needs is written, nothing the port held before is trusted.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) {
        why = name + " is not a serial port (" + system_error_text(GetLastError()) + ")";
        CloseHandle(handle);
        return nullptr;
    }
    dcb.BaudRate = LINK_BAUD_RATE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(handle, &dcb)) {
        why = "cannot set " + name + " up as the controller's line (" +
              std::to_string(LINK_BAUD_RATE) + " baud, 8N1): " + system_error_text(GetLastError());
        CloseHandle(handle);
        return nullptr;
    }
    // Reads return at once with what the port holds (MAXDWORD, 0, 0): the one mode every
    // port driver and Wine keep alike, where a read that waits for its first byte is
    // honoured differently by virtual port drivers. The waiting is done above, in steps.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!SetCommTimeouts(handle, &timeouts)) {
        why = "cannot set " + name + "'s timeouts: " + system_error_text(GetLastError());
        CloseHandle(handle);
        return nullptr;
    }
    SetupComm(handle, INPUT_QUEUE, OUTPUT_QUEUE); // a request: the driver may keep its own
    return std::make_unique<ComInput>(handle, name);
}

} // namespace lcd::sim
