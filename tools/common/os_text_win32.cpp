#include "os_text.h"
#include "utf8_win32.h"

#include <algorithm>
#include <vector>

namespace lcd::tool {
namespace {

// The ports Windows knows: the serial-port map the port drivers fill in at start-up.
constexpr wchar_t SERIAL_MAP_KEY[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD MAX_VALUE_NAME = 256, MAX_PORT_NAME = 64;

std::string serial_ports_here() {
    std::vector<std::string> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SERIAL_MAP_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            wchar_t name[MAX_VALUE_NAME];
            wchar_t data[MAX_PORT_NAME];
            DWORD name_length = MAX_VALUE_NAME, data_bytes = sizeof data - sizeof(wchar_t),
                  type = 0;
            const LONG r = RegEnumValueW(key, i, name, &name_length, nullptr, &type,
                                         reinterpret_cast<BYTE *>(data), &data_bytes);
            if (r == ERROR_NO_MORE_ITEMS)
                break;
            if (r != ERROR_SUCCESS || type != REG_SZ)
                continue;
            data[data_bytes / sizeof(wchar_t)] = L'\0';
            ports.push_back(narrow(data));
        }
        RegCloseKey(key);
    }
    if (ports.empty())
        return "Windows lists no serial ports (none is connected, or its driver is missing)";
    // COM2 before COM10.
    std::sort(ports.begin(), ports.end(), [](const std::string &a, const std::string &b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    std::string list = "the COM ports here:";
    for (const std::string &p : ports)
        list += " " + p;
    return list;
}

} // namespace

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

std::string file_error_text(unsigned long error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
               ? NO_SUCH_FILE
               : system_error_text(error);
}

std::string no_such_port_text() {
    return "no such port; " + serial_ports_here();
}

} // namespace lcd::tool
