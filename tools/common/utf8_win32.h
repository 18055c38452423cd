// UTF-8 inside the tools, UTF-16 at the Windows API: the command line arrives as UTF-16 (wmain),
// is kept as UTF-8, and file names go back to UTF-16 when opened, so every name Windows allows
// works whatever the system's code page.
#pragma once

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <windows.h>

namespace lcd::tool {

inline std::wstring widen(const std::string &utf8) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

// To UTF-8, or with `code_page` CP_ACP to the narrow form the ...A functions take.
inline std::string narrow(const std::wstring &wide, unsigned code_page = CP_UTF8) {
    const int n = WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                            nullptr, nullptr);
    return out;
}

inline UINT console_page = 0; // the console's own output code page, put back at exit

// Names in messages and reports are UTF-8: a console shows them as such while the tool runs,
// and gets its own code page back however it ends, a usage error's exit included.
inline void use_utf8_console() {
    console_page = GetConsoleOutputCP();
    if (console_page != 0 && SetConsoleOutputCP(CP_UTF8))
        std::atexit([] {
            std::fflush(stdout);
            SetConsoleOutputCP(console_page);
        });
}

// wmain's arguments from `first` on, as UTF-8, with the console showing UTF-8 from now on: so
// any file name Windows allows arrives whole (-municode).
inline std::vector<std::string> utf8_arguments(int argc, wchar_t **wargv, int first) {
    std::vector<std::string> args;
    for (int i = first; i < argc; ++i)
        args.push_back(narrow(wargv[i]));
    use_utf8_console();
    return args;
}

} // namespace lcd::tool
#endif
