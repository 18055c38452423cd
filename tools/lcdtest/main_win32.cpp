// lcdtest.exe: its entry (the command line as UTF-16, the console showing UTF-8), where it runs
// from, and port names in the code page the driver's narrow entry point takes.
#include "platform.h"
#include "utf8_win32.h"

namespace lcd::tool {

std::string own_directory() {
    wchar_t path[32768] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    if (n == 0 || n >= std::size(path))
        return {};
    const std::string s = narrow(path);
    const std::size_t slash = s.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

std::string driver_port_name(const std::string &utf8) {
    return narrow(widen(utf8), CP_ACP);
}

} // namespace lcd::tool

int wmain(int argc, wchar_t **wargv) {
    return lcd::tool::run_lcdtest(lcd::tool::utf8_arguments(argc, wargv, 0));
}
