// lcdsim on Windows: UTF-8 inside, UTF-16 at the Windows API (lcdtest's utf8_win32.h), and a
// system error as words for messages.
#pragma once

#include "utf8_win32.h"

#include <string>

namespace lcd::sim {

using lcd::tool::narrow;
using lcd::tool::widen;

// "error 2 (The system cannot find the file specified)"; inserts such as %1 are left out.
inline std::string system_error_text(DWORD error) {
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string out = n > 0 && text != nullptr ? narrow(std::wstring(text, n)) : std::string();
    if (text != nullptr)
        LocalFree(text);
    while (!out.empty() &&
           (out.back() == '\n' || out.back() == '\r' || out.back() == '.' || out.back() == ' '))
        out.pop_back();
    const std::size_t insert = out.find("%1");
    if (insert != std::string::npos)
        out.replace(insert, 2, "it");
    return "error " + std::to_string(error) + (out.empty() ? "" : " (" + out + ")");
}

} // namespace lcd::sim
