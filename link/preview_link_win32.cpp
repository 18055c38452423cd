// The preview driver's link: instead of a COM port, the panel viewer (lcdsim.exe --window,
// beside the DLL) reached through a named pipe it serves, named after the host's port. Every
// byte the driver would write to the port goes down the pipe unchanged, bounded like a port's
// write. No open waits longer than a write may (WRITE_TIMEOUT_MS): the host's set-up connects
// to the viewer already showing that port (a host that loaded the driver again, or another
// host), or starts one and waits for it at most that long; every other open only connects
// (preview_link.h: a window the user closed never pops back by itself). No thread, no window
// of the DLL's own: the viewer is a process of its own, and it keeps showing the last panel
// after the driver is unloaded. A set-up that cannot show the panel leaves its reason as the
// last error (preview_viewer.h).
#include "port_name.h"
#include "preview_link.h"
#include "preview_viewer.h"
#include "serial_link.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <array>
#include <cwchar>

namespace lcd {
namespace {

// How often a set-up that started the viewer looks for its pipe again.
constexpr DWORD VIEWER_POLL_MS = 20;

static_assert(PREVIEW_VIEWER_MISSING == ERROR_MOD_NOT_FOUND &&
              PREVIEW_VIEWER_REFUSED == ERROR_BAD_ARGUMENTS &&
              PREVIEW_NO_DESKTOP == ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION);

// An ASCII name as the wide API takes it.
template <std::size_t N> constexpr std::array<wchar_t, N> wide_name(const char (&name)[N]) {
    std::array<wchar_t, N> wide{};
    for (std::size_t i = 0; i < N; ++i)
        wide[i] = static_cast<wchar_t>(name[i]);
    return wide;
}

constexpr auto VIEWER_FILE = wide_name(PREVIEW_VIEWER_FILE);
// An environment variable with more of lcdsim.exe's options, for the viewer the driver starts.
constexpr auto PREVIEW_OPTIONS = wide_name(PREVIEW_OPTIONS_VARIABLE);
constexpr auto SHOWN_SUFFIX = wide_name(VIEWER_SHOWN_SUFFIX);
constexpr wchar_t PIPE_PREFIX[] = L"\\\\.\\pipe\\lcd_preview.";
constexpr std::size_t PIPE_NAME_CAPACITY = 96;
constexpr std::size_t PORT_LABEL_LENGTH = 32;

HANDLE pipe_of(const Link &link) {
    return reinterpret_cast<HANDLE>(link.pipe);
}

HANDLE viewer_of(const Link &link) {
    return reinterpret_cast<HANDLE>(link.viewer);
}

std::uint32_t last_error() {
    return static_cast<std::uint32_t>(GetLastError());
}

bool viewer_running(const Link &link) {
    return link.viewer != 0 && WaitForSingleObject(viewer_of(link), 0) == WAIT_TIMEOUT;
}

// Closes the driver's handle to the viewer's process; the viewer runs on.
void close_viewer_handle(Link &link) {
    if (link.viewer != 0)
        CloseHandle(viewer_of(link));
    link.viewer = 0;
}

void close_pipe(Link &link) {
    if (port_held(link))
        CloseHandle(pipe_of(link));
    link.pipe = Link{}.pipe;
}

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
                            reinterpret_cast<LPCWSTR>(&dll_folder), &self))
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

// The host's port name as the window's title and the pipe's name give it: a COM port by its
// bare name (com3, COM3: and \\.\COM3 are one port, one viewer), anything else as printable
// ASCII without quotes or backslashes, at most PORT_LABEL_LENGTH characters, so the viewer
// parses its command line as written.
WideText<PORT_LABEL_LENGTH + 1> port_label(const char *port_name) {
    char device[DEVICE_PATH_CAPACITY];
    const char *name = device_path(port_name, device);
    if (name == device)
        name += 4; // past "\\.\"
    WideText<PORT_LABEL_LENGTH + 1> label;
    for (const char *c = name; *c != '\0' && label.length < PORT_LABEL_LENGTH; ++c)
        if (*c > ' ' && *c < 0x7F && *c != '"' && *c != '\\')
            label.add(static_cast<wchar_t>(*c));
    return label;
}

// The viewer's pipe for a port: one per port and login session, so every host (and every load
// of the driver) that draws on that port finds the one viewer showing it.
WideText<PIPE_NAME_CAPACITY> pipe_name(const wchar_t *label) {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    WideText<PIPE_NAME_CAPACITY> pipe;
    pipe.add(PIPE_PREFIX);
    pipe.add(static_cast<unsigned long long>(session));
    pipe.add(L'.');
    pipe.add(label);
    return pipe;
}

// Starts lcdsim.exe --window serving `pipe`, titled with the port's label; `viewer` is its
// process. The viewer gets no console (the host is usually a windowed program) and no handle of
// the host's, its standard handles included: a host whose output is read through a pipe (a
// script running lcdtest.exe) must see that pipe end when the host ends, not when the window
// closes. Wine hands the caller's standard output on unless they are given as none.
bool start_viewer(const wchar_t *label, const wchar_t *pipe, HANDLE &viewer) {
    WideText<MAX_PATH> program;
    if (!dll_folder(program))
        return false;
    WideText<MAX_PATH> folder = program;
    program.add(VIEWER_FILE.data());

    WideText<2 * MAX_PATH + PIPE_NAME_CAPACITY> command;
    command.add(L'"');
    command.add(program.text);
    command.add(L"\" --window --name \"");
    command.add(label);
    command.add(L" (preview)\" ");
    // The user's own options for the viewer (a bigger --scale, a --png to keep) go first.
    wchar_t options[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(PREVIEW_OPTIONS.data(), options, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        command.add(options);
        command.add(L' ');
    }
    command.add(pipe);
    if (!program.fits || !command.fits) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = INVALID_HANDLE_VALUE;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.text, command.text, nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, folder.text, &startup, &process)) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            SetLastError(PREVIEW_VIEWER_MISSING);
        return false;
    }
    CloseHandle(process.hThread);
    viewer = process.hProcess;
    return true;
}

// Why the viewer the driver started ended without serving its pipe: it had no desktop for its
// window, or it refused its options (or ended for any other reason of its own).
DWORD viewer_failure(const Link &link) {
    DWORD status = 0;
    if (GetExitCodeProcess(viewer_of(link), &status) && status == VIEWER_NO_WINDOW_STATUS)
        return PREVIEW_NO_DESKTOP;
    return PREVIEW_VIEWER_REFUSED;
}

// One attempt at the viewer's pipe; INVALID_HANDLE_VALUE with the reason in `error`.
HANDLE connect_viewer(const wchar_t *pipe, DWORD &error) {
    // Overlapped, so every write can be given up at its bound.
    const HANDLE handle =
        CreateFileW(pipe, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    return handle;
}

// The event a viewer started for `pipe` sets once its window shows (preview_viewer.h).
WideText<PIPE_NAME_CAPACITY + 16> shown_event_name(const wchar_t *pipe) {
    WideText<PIPE_NAME_CAPACITY + 16> name;
    name.add(L"Local\\");
    name.add(pipe + (sizeof R"(\\.\pipe\)" - 1));
    name.add(SHOWN_SUFFIX.data());
    return name;
}

// The set-up's wait, within WRITE_TIMEOUT_MS of its start: for the pipe's one writer to go (a
// host that just let go, whose last bytes the viewer is still reading), or for a viewer to
// serve it, started here once when none does. A viewer started here serves its pipe before its
// window opens: the wait goes on until the window shows or the viewer ends (it found no
// desktop), and a bound that passes meanwhile leaves the window on its way.
HANDLE await_viewer(Link &link, const wchar_t *label, const wchar_t *pipe, DWORD &error) {
    const ULONGLONG deadline = GetTickCount64() + WRITE_TIMEOUT_MS;
    const auto left = [deadline] {
        const ULONGLONG now = GetTickCount64();
        return now >= deadline ? DWORD{0} : static_cast<DWORD>(deadline - now);
    };
    HANDLE shown = nullptr;
    HANDLE handle = INVALID_HANDLE_VALUE;
    while (handle == INVALID_HANDLE_VALUE) {
        if (left() == 0) {
            error = ERROR_TIMEOUT;
            break;
        }
        if (error == ERROR_PIPE_BUSY) {
            WaitNamedPipeW(pipe, left());
        } else if (viewer_running(link)) {
            WaitForSingleObject(viewer_of(link), std::min<DWORD>(left(), VIEWER_POLL_MS));
        } else if (shown == nullptr) {
            close_viewer_handle(link);
            shown = CreateEventW(nullptr, TRUE, FALSE, shown_event_name(pipe).text);
            HANDLE viewer = nullptr;
            if (shown == nullptr || !start_viewer(label, pipe, viewer)) {
                error = GetLastError();
                break;
            }
            link.viewer = reinterpret_cast<std::intptr_t>(viewer);
        } else {
            // The viewer ended without serving, unless another viewer took the pipe first,
            // which the last look below finds.
            const DWORD why = viewer_failure(link);
            close_viewer_handle(link);
            handle = connect_viewer(pipe, error);
            if (handle == INVALID_HANDLE_VALUE)
                error = why;
            break;
        }
        handle = connect_viewer(pipe, error);
    }
    if (handle != INVALID_HANDLE_VALUE && shown != nullptr && link.viewer != 0) {
        const HANDLE waits[] = {viewer_of(link), shown};
        if (WaitForMultipleObjects(2, waits, FALSE, left()) == WAIT_OBJECT_0) {
            CloseHandle(handle);
            handle = INVALID_HANDLE_VALUE;
            error = viewer_failure(link);
            close_viewer_handle(link);
        }
    }
    if (shown != nullptr)
        CloseHandle(shown);
    return handle;
}

} // namespace

void let_next_open_start_viewer(Link &link) {
    link.may_start_viewer = true;
}

OpenResult open_port(Link &link, const char *port_name, std::uint32_t) {
    close_pipe(link);
    const bool set_up = link.may_start_viewer;
    link.may_start_viewer = false;
    if (port_name == nullptr)
        return {OPEN_FAILED, 0};
    if (set_up)
        link.closed = false;
    else if (link.closed)
        return {OPEN_FAILED, ERROR_FILE_NOT_FOUND};
    const auto label = port_label(port_name);
    const auto pipe = pipe_name(label.text);
    if (!pipe.fits)
        return {OPEN_FAILED, ERROR_FILENAME_EXCED_RANGE};
    DWORD error = ERROR_SUCCESS;
    HANDLE handle = connect_viewer(pipe.text, error);
    if (handle == INVALID_HANDLE_VALUE && set_up)
        handle = await_viewer(link, label.text, pipe.text, error);
    if (handle == INVALID_HANDLE_VALUE) {
        // Nobody serves the pipe and no viewer of ours is on its way: the user closed it.
        if (!set_up && error != ERROR_PIPE_BUSY && !viewer_running(link))
            link.closed = true;
        return {OPEN_FAILED, error};
    }
    link.pipe = reinterpret_cast<std::intptr_t>(handle);
    return {OPEN_OK, 0};
}

// One overlapped WriteFile for the whole transmission, waited on for at most `bound_ms`: a
// viewer that stopped reading costs the host no more than a port that did. What it has not
// taken by then is cancelled (WRITE_SHORT); a viewer that went away gives WRITE_FAILED.
WriteResult write_bytes(Link &link, const std::uint8_t *data, std::uint32_t n,
                        std::uint32_t bound_ms) {
    if (!port_held(link))
        return {WRITE_NO_PORT, 0};
    const HANDLE pipe = pipe_of(link);
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
    return pipe_of(link) != INVALID_HANDLE_VALUE;
}

// The viewer the driver started has ended (the user closed its window): its pipe went with it.
// A viewer another host started is found gone by the next write.
bool port_gone(const Link &link) {
    return port_held(link) && link.viewer != 0 &&
           WaitForSingleObject(viewer_of(link), 0) == WAIT_OBJECT_0;
}

// At unload: the pipe closes, and the viewer keeps the last panel on show until the user
// closes it. The driver closes its handle to the viewer's process without ending it.
void close_port(Link &link) {
    close_pipe(link);
    close_viewer_handle(link);
    link = Link{};
}

// The viewer is kept: whether it is still running tells a later open whether the user closed it.
void close_port_at_once(Link &link) {
    close_pipe(link);
}

} // namespace lcd
