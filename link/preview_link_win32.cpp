// The preview driver's link: instead of a COM port, the panel viewer (lcdsim.exe --window,
// beside the DLL) reached through a named pipe it serves. The first open starts the viewer;
// every byte the driver would write to the port goes down the pipe unchanged, bounded like a
// port's write. Once the viewer the driver started has ended (the user closed its window),
// opening fails until the host sets the port up again, so the preview never pops back by
// itself (a set-up opens it again, and starts a viewer anew). No thread, no window of the DLL's
// own: the viewer is a process of its own, and it keeps showing the last panel after the driver is
// unloaded.
#include "serial_link.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cwchar>

namespace lcd {
namespace {

// How long the first open waits for a viewer it started to serve its pipe: once, while a
// window opens, as a program's start. It takes well under a second on a quiet machine; a
// busy one, or a first start that a virus scanner holds, takes seconds. A viewer that is not
// up by then is connected to by the frame calls' later attempts, without a second start.
constexpr DWORD VIEWER_START_MS = 10000;
// How often the wait for the viewer's pipe looks again.
constexpr DWORD VIEWER_POLL_MS = 50;

constexpr wchar_t VIEWER_FILE[] = L"lcdsim.exe";
// An environment variable with more of lcdsim.exe's options, for the viewer the driver starts.
constexpr wchar_t PREVIEW_OPTIONS[] = L"LCD_PREVIEW_OPTIONS";
constexpr std::size_t PIPE_NAME_CAPACITY = 64;
constexpr std::size_t PORT_LABEL_LENGTH = 32;

// The viewer the driver started: its process, while the driver holds it, and its pipe.
HANDLE viewer = nullptr;
wchar_t viewer_pipe[PIPE_NAME_CAPACITY] = {};
// The viewer ended: nothing is started again until the host sets the port up again.
bool viewer_closed = false;

HANDLE to_handle(const Link &link) {
    return reinterpret_cast<HANDLE>(link.pipe);
}

std::uint32_t last_error() {
    return static_cast<std::uint32_t>(GetLastError());
}

bool viewer_running() {
    return viewer != nullptr && WaitForSingleObject(viewer, 0) == WAIT_TIMEOUT;
}

void forget_viewer() {
    if (viewer != nullptr)
        CloseHandle(viewer);
    viewer = nullptr;
}

// Lets go of the viewer's process when the DLL is unloaded; the viewer runs on.
struct ViewerRelease {
    ~ViewerRelease() { forget_viewer(); }
} viewer_release;

// A wide string of fixed room that refuses what does not fit: no allocation in the host.
template <std::size_t N> struct WideText {
    wchar_t text[N] = {};
    std::size_t length = 0;
    bool fits = true;

    void add(wchar_t c) {
        if (length + 1 < N) {
            text[length++] = c;
            text[length] = L'\0';
        } else {
            fits = false;
        }
    }
    void add(const wchar_t *s) {
        while (*s != L'\0')
            add(*s++);
    }
    void add(unsigned long long number) {
        wchar_t digits[20];
        std::size_t n = 0;
        do
            digits[n++] = static_cast<wchar_t>(L'0' + number % 10);
        while ((number /= 10) != 0);
        while (n > 0)
            add(digits[--n]);
    }
};

// The folder this DLL was loaded from, with a trailing backslash.
bool dll_folder(WideText<MAX_PATH> &out) {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&viewer_closed), &self))
        return false;
    const DWORD n = GetModuleFileNameW(self, out.text, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return false;
    const wchar_t *slash = std::wcsrchr(out.text, L'\\');
    if (slash == nullptr)
        return false;
    out.length = static_cast<std::size_t>(slash - out.text) + 1;
    out.text[out.length] = L'\0';
    return true;
}

// Starts lcdsim.exe --window on a pipe of its own, titled with the host's port name. The
// viewer gets no console: the host is usually a windowed program.
bool start_viewer(const char *port_name) {
    WideText<MAX_PATH> program;
    if (!dll_folder(program))
        return false;
    WideText<MAX_PATH> folder = program;
    program.add(VIEWER_FILE);

    WideText<PIPE_NAME_CAPACITY> pipe;
    pipe.add(L"\\\\.\\pipe\\lcd_preview.");
    pipe.add(static_cast<unsigned long long>(GetCurrentProcessId()));
    pipe.add(L'.');
    pipe.add(static_cast<unsigned long long>(GetTickCount64()));

    // The host's port name as the window's title gives it: printable ASCII without quotes, at
    // most PORT_LABEL_LENGTH characters, so the viewer parses its command line as written.
    WideText<2 * MAX_PATH + PIPE_NAME_CAPACITY> command;
    command.add(L'"');
    command.add(program.text);
    command.add(L"\" --window --name \"");
    std::size_t kept = 0;
    for (const char *c = port_name; *c != '\0' && kept < PORT_LABEL_LENGTH; ++c)
        if (*c > ' ' && *c < 0x7F && *c != '"') {
            command.add(static_cast<wchar_t>(*c));
            ++kept;
        }
    command.add(L" (preview)\" ");
    // The user's own options for the viewer (a bigger --scale, a --png to keep) go first.
    wchar_t options[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(PREVIEW_OPTIONS, options, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        command.add(options);
        command.add(L' ');
    }
    command.add(pipe.text);
    if (!program.fits || !pipe.fits || !command.fits)
        return false;

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.text, command.text, nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, folder.text, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    viewer = process.hProcess;
    std::wcscpy(viewer_pipe, pipe.text);
    return true;
}

// Connects to the viewer's pipe, waiting for it at most `wait_ms` while the viewer runs.
HANDLE connect_viewer(DWORD wait_ms) {
    const ULONGLONG deadline = GetTickCount64() + wait_ms;
    for (;;) {
        // Overlapped, so every write can be given up at its bound.
        const HANDLE pipe = CreateFileW(viewer_pipe, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OVERLAPPED, nullptr);
        if (pipe != INVALID_HANDLE_VALUE)
            return pipe;
        if (!viewer_running() || GetTickCount64() >= deadline)
            return INVALID_HANDLE_VALUE;
        Sleep(VIEWER_POLL_MS);
    }
}

} // namespace

OpenResult open_port(Link &link, const char *port_name, std::uint32_t, OpenCause cause) {
    close_port(link);
    // A viewer the user closed is started anew by the host's set-up.
    if (cause == OpenCause::SET_UP) {
        if (!viewer_running())
            forget_viewer();
        viewer_closed = false;
    }
    if (port_name == nullptr || viewer_closed)
        return {OPEN_FAILED, 0};
    DWORD wait_ms = 0;
    if (viewer == nullptr) {
        if (!start_viewer(port_name))
            return {OPEN_FAILED, last_error()};
        wait_ms = VIEWER_START_MS;
    } else if (!viewer_running()) {
        // The user closed the window: the preview stays closed.
        forget_viewer();
        viewer_closed = true;
        return {OPEN_FAILED, 0};
    }
    const HANDLE pipe = connect_viewer(wait_ms);
    if (pipe == INVALID_HANDLE_VALUE)
        return {OPEN_FAILED, last_error()};
    link.pipe = reinterpret_cast<std::intptr_t>(pipe);
    return {OPEN_OK, 0};
}

// One overlapped WriteFile for the whole transmission, waited on for at most `bound_ms`: a
// viewer that stopped reading costs the host no more than a port that did. What it has not
// taken by then is cancelled (WRITE_SHORT); a viewer that went away gives WRITE_FAILED.
WriteResult write_bytes(Link &link, const std::uint8_t *data, std::uint32_t n,
                        std::uint32_t bound_ms) {
    if (!port_held(link))
        return {WRITE_NO_PORT, 0};
    const HANDLE pipe = to_handle(link);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr)
        return {WRITE_FAILED, last_error()};
    DWORD written = 0;
    WriteResult result{WRITE_OK, 0};
    if (!WriteFile(pipe, data, n, nullptr, &overlapped) && GetLastError() != ERROR_IO_PENDING) {
        result = {WRITE_FAILED, last_error()};
    } else {
        if (WaitForSingleObject(overlapped.hEvent, bound_ms) != WAIT_OBJECT_0)
            CancelIo(pipe);
        if (!GetOverlappedResult(pipe, &overlapped, &written, TRUE)) {
            const std::uint32_t error = last_error();
            result = error == ERROR_OPERATION_ABORTED ? WriteResult{WRITE_SHORT, 0}
                                                      : WriteResult{WRITE_FAILED, error};
        } else if (written != n) {
            result = {WRITE_SHORT, 0};
        }
    }
    CloseHandle(overlapped.hEvent);
    return result;
}

bool port_held(const Link &link) {
    return to_handle(link) != INVALID_HANDLE_VALUE;
}

// At unload: the pipe closes, and the viewer keeps the last panel on show until the user
// closes it. The driver lets go of its process without ending it.
void close_port(Link &link) {
    if (port_held(link))
        CloseHandle(to_handle(link));
    link = Link{};
}

void drop_port(Link &link) {
    close_port(link);
}

} // namespace lcd
