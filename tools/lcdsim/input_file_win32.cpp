// lcdsim.exe's input from a capture file or stdin (-): read to its end. Stdin from a pipe is
// looked at with a wait, so the window stays drawn while the writer is quiet.
#include "input_win32.h"
#include "win32_text.h"

#include <algorithm>

namespace lcd::sim {
namespace {

// How often a quiet stdin pipe is looked at again.
constexpr std::chrono::milliseconds PIPE_POLL{10};

bool same_file(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    return GetFileInformationByHandle(a, &ia) && GetFileInformationByHandle(b, &ib) &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

class FileInput final : public Input {
  public:
    FileInput(HANDLE handle, std::string name, bool owned) : handle_(handle), owned_(owned) {
        name_ = std::move(name);
        pipe_ = GetFileType(handle_) == FILE_TYPE_PIPE;
    }
    ~FileInput() override {
        if (owned_)
            CloseHandle(handle_);
    }

    ReadResult read(std::uint8_t *buffer, std::size_t size,
                    std::chrono::milliseconds wait) override {
        if (pipe_) {
            // An anonymous pipe has no read with a time limit: look until bytes are there.
            for (;;) {
                DWORD available = 0;
                if (!PeekNamedPipe(handle_, nullptr, 0, nullptr, &available, nullptr))
                    return ended_or_failed();
                if (available != 0)
                    break;
                if (wait.count() <= 0)
                    return {};
                const auto step = std::min(wait, PIPE_POLL);
                Sleep(static_cast<DWORD>(step.count()));
                wait -= step;
            }
        }
        DWORD n = 0;
        const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 20));
        if (!ReadFile(handle_, buffer, asked, &n, nullptr))
            return ended_or_failed();
        if (n == 0)
            return {ReadStatus::End, 0};
        return {ReadStatus::Bytes, n};
    }
    bool live() const override { return false; }
    bool is_path(const std::string &path) const override {
        const HANDLE other = CreateFileW(
            widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (other == INVALID_HANDLE_VALUE)
            return false;
        const bool same = same_file(handle_, other);
        CloseHandle(other);
        return same;
    }

  private:
    ReadResult ended_or_failed() {
        const DWORD error = GetLastError();
        // The writer of a pipe closed its end: the end of the input.
        if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF)
            return {ReadStatus::End, 0};
        why_ = system_error_text(error);
        return {ReadStatus::Failed, 0};
    }

    HANDLE handle_;
    bool owned_;
    bool pipe_ = false;
};

} // namespace

std::unique_ptr<Input> open_file_input(const std::string &path, std::string &why) {
    if (path == "-")
        return std::make_unique<FileInput>(GetStdHandle(STD_INPUT_HANDLE), "stdin", false);
    const HANDLE handle =
        CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        why = "cannot open " + path + ": " + lcd::tool::file_error_text(GetLastError());
        return nullptr;
    }
    return std::make_unique<FileInput>(handle, path, true);
}

} // namespace lcd::sim
