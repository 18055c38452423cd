#include "port_check.h"
#include "utf8_win32.h"

#include <algorithm>
#include <vector>

namespace lcd::tool {
namespace {

// The ports Windows knows: the serial-port map the port drivers fill in at start-up.
constexpr wchar_t SERIAL_MAP_KEY[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD MAX_VALUE_NAME = 256, MAX_PORT_NAME = 64;

} // namespace

unsigned long last_os_error() {
    return GetLastError();
}

void clear_last_os_error() {
    SetLastError(0);
}

PortFault port_fault(unsigned long error) {
    switch (error) {
    case ERROR_SUCCESS:
        return PortFault::NONE;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return PortFault::NO_SUCH_PORT;
    // Windows lets one program at a time open a port; the second is denied access.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return PortFault::IN_USE;
    // What the comm calls give for a handle that is no serial port (a file, NUL, a pipe).
    case ERROR_INVALID_FUNCTION:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_SUPPORTED:
        return PortFault::NOT_A_PORT;
    case ERROR_TIMEOUT:
    case ERROR_SEM_TIMEOUT:
        return PortFault::TIMED_OUT;
    default:
        return PortFault::OTHER;
    }
}

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

bool is_own_terminal(const std::string &) {
    return false;
}

} // namespace lcd::tool
