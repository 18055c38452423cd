// lcdsim.exe's input from a named pipe (\\.\pipe\NAME) it creates: one program at a time
// connects and writes the controller's byte stream; when it disconnects, the pipe waits for
// the next (a host that sets its port up again). Overlapped, so every wait has a limit and
// the window stays drawn; one read stays pending across waits, into a buffer of the pipe's own.
#include "input_win32.h"
#include "link/preview_viewer.h"
#include "win32_text.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace lcd::sim {
namespace {

constexpr DWORD PIPE_BUFFER = 65536;
constexpr std::size_t PIPE_PREFIX_LENGTH = sizeof R"(\\.\pipe\)" - 1;

class PipeInput final : public Input {
  public:
    PipeInput(HANDLE pipe, HANDLE event, std::string name)
        : pipe_(pipe), event_(event), buffer_(PIPE_BUFFER) {
        name_ = std::move(name);
    }
    ~PipeInput() override {
        if (pending_) {
            CancelIo(pipe_);
            DWORD n = 0;
            GetOverlappedResult(pipe_, &overlapped_, &n, TRUE);
        }
        CloseHandle(pipe_);
        CloseHandle(event_);
    }

    ReadResult read(std::uint8_t *out, std::size_t size, std::chrono::milliseconds wait) override {
        if (kept_ != 0)
            return hand_over(out, size);
        if (!pending_ && !start())
            return {ReadStatus::Failed, 0};
        if (!pending_)
            return {}; // a writer came and went at once: look again
        const DWORD waited = WaitForSingleObject(event_, static_cast<DWORD>(wait.count()));
        if (waited == WAIT_TIMEOUT)
            return {};
        DWORD n = 0;
        const bool done = GetOverlappedResult(pipe_, &overlapped_, &n, FALSE) != 0;
        const DWORD error = done ? ERROR_SUCCESS : GetLastError();
        pending_ = false;
        if (!connected_) {
            if (!done && !writer_came(error))
                return fail(error);
            connected_ = true;
            return {};
        }
        if (!done) {
            if (error != ERROR_BROKEN_PIPE)
                return fail(error);
            // The writer went: the next one may come.
            DisconnectNamedPipe(pipe_);
            connected_ = false;
            return {};
        }
        kept_ = n;
        handed_ = 0;
        return kept_ == 0 ? ReadResult{} : hand_over(out, size);
    }
    bool live() const override { return true; }
    // The window shows: the preview driver that started this viewer may be waiting for that.
    bool announce() override {
        const std::wstring shown =
            L"Local\\" + widen(name_.substr(PIPE_PREFIX_LENGTH)) + widen(lcd::VIEWER_SHOWN_SUFFIX);
        if (const HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, shown.c_str())) {
            SetEvent(event);
            CloseHandle(event);
        }
        return true;
    }

  private:
    // What the last read brought, as much as the caller takes; the rest at the next call.
    ReadResult hand_over(std::uint8_t *out, std::size_t size) {
        const std::size_t n = std::min(size, kept_);
        std::memcpy(out, buffer_.data() + handed_, n);
        handed_ += n;
        kept_ -= n;
        return {ReadStatus::Bytes, n};
    }
    // A writer connected before lcdsim listened: it is still there (ERROR_PIPE_CONNECTED) or
    // it has written and closed already (ERROR_NO_DATA, a host that drew and ended while
    // lcdsim was starting). Either way what it wrote waits in the pipe, to be read up to the
    // broken pipe that ends it.
    static bool writer_came(DWORD error) {
        return error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA;
    }
    // Starts the next overlapped step: waiting for a writer, or reading.
    bool start() {
        overlapped_ = OVERLAPPED{};
        overlapped_.hEvent = event_;
        if (!connected_) {
            if (ConnectNamedPipe(pipe_, &overlapped_) || GetLastError() == ERROR_IO_PENDING) {
                pending_ = true;
                return true;
            }
            const DWORD error = GetLastError();
            if (writer_came(error)) {
                connected_ = true;
                return true;
            }
            fail(error);
            return false;
        }
        if (ReadFile(pipe_, buffer_.data(), PIPE_BUFFER, nullptr, &overlapped_) ||
            GetLastError() == ERROR_IO_PENDING) {
            pending_ = true; // done at once or later, the event tells
            return true;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA) {
            DisconnectNamedPipe(pipe_);
            connected_ = false;
            return true;
        }
        fail(error);
        return false;
    }
    ReadResult fail(DWORD error) {
        why_ = system_error_text(error);
        return {ReadStatus::Failed, 0};
    }

    HANDLE pipe_;
    HANDLE event_;
    OVERLAPPED overlapped_{};
    std::vector<std::uint8_t> buffer_;
    std::size_t kept_ = 0;   // bytes of the last read not yet handed over
    std::size_t handed_ = 0; // where they start in buffer_
    bool connected_ = false;
    bool pending_ = false;
};

} // namespace

std::unique_ptr<Input> open_pipe_input(const std::string &name, std::string &why) {
    // The first instance, or nothing: a pipe another program serves is not lcdsim's to read.
    const HANDLE pipe = CreateNamedPipeW(
        widen(name).c_str(),
        PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0,
        PIPE_BUFFER, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        why = "cannot create the pipe " + name + ": " +
              (error == ERROR_ACCESS_DENIED ? std::string("another program serves it already")
                                            : system_error_text(error));
        return nullptr;
    }
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        why = "cannot wait on the pipe " + name + ": " + system_error_text(GetLastError());
        CloseHandle(pipe);
        return nullptr;
    }
    return std::make_unique<PipeInput>(pipe, event, name);
}

} // namespace lcd::sim
