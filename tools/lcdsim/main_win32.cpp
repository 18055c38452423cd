// lcdsim.exe: its entry (the command line as UTF-16, the console showing UTF-8), which input
// a name opens (a COM port, a named pipe, a capture file or stdin), and Ctrl-C or the console
// closing as a stop.
#include "input_win32.h"
#include "link/port_name.h"
#include "platform.h"
#include "win32_text.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace lcd::sim {

std::atomic<bool> g_stop{false};

namespace {

BOOL WINAPI on_console_event(DWORD) {
    g_stop = true;
    return TRUE;
}

bool starts_with_nocase(const std::string &text, const char *prefix) {
    for (std::size_t i = 0; prefix[i] != '\0'; ++i)
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) !=
                                    std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

} // namespace

void catch_stop_requests() {
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

std::unique_ptr<Input> open_input(const Options &options, std::string &why, bool &usage) {
    usage = false;
    if (options.pty) {
        usage = true;
        why = "--pty is for Linux; on Windows give a COM port or a named pipe";
        return nullptr;
    }
    const std::string &name = options.input;
    if (starts_with_nocase(name, R"(\\.\pipe\)"))
        return open_pipe_input(name, why);
    char device[DEVICE_PATH_CAPACITY];
    if (starts_with_nocase(name, R"(\\.\)") || device_path(name.c_str(), device) != name.c_str())
        return open_com_input(name, why);
    return open_file_input(name, why);
}

} // namespace lcd::sim

int wmain(int argc, wchar_t **wargv) {
    return lcd::sim::run_lcdsim(lcd::tool::utf8_arguments(argc, wargv, 1));
}
