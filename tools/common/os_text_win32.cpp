#include "os_text.h"
#include "utf8_win32.h"

namespace lcd::tool {

std::string system_error_text(unsigned long error, const std::string &subject) {
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    // Wide, then UTF-8: the tools' consoles show UTF-8, whatever the system's code page.
    std::string out = n > 0 && text != nullptr ? narrow(std::wstring(text, n)) : std::string();
    if (text != nullptr)
        LocalFree(text);
    while (!out.empty() &&
           (out.back() == '\n' || out.back() == '\r' || out.back() == '.' || out.back() == ' '))
        out.pop_back();
    // Inserts are left in the text (FORMAT_MESSAGE_IGNORE_INSERTS): filled in by the system, one
    // would read past arguments it was not given.
    for (std::size_t at = out.find('%'); at != std::string::npos; at = out.find('%', at)) {
        if (at + 1 < out.size() && out[at + 1] >= '1' && out[at + 1] <= '9') {
            out.replace(at, 2, subject);
            at += subject.size();
        } else {
            ++at;
        }
    }
    return "error " + std::to_string(error) + (out.empty() ? "" : " (" + out + ")");
}

} // namespace lcd::tool
