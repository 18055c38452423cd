#include "link/port_name.h"
#include "port_check.h"
#include "utf8_win32.h"

#include <algorithm>
#include <cstring>
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

// The system's text for `error`, its inserts (%1 for a file, in some) filled with `subject`.
std::string system_text(DWORD error, const std::string &subject = "the file") {
    char *text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string out = n > 0 && text != nullptr ? std::string(text, n) : std::string();
    if (text != nullptr)
        LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.'))
        out.pop_back();
    // Inserts are left as they are (FORMAT_MESSAGE_IGNORE_INSERTS): a text with one would
    // otherwise read past the arguments it was not given.
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

// The DLLs a PE file imports, read from its import directory.
std::vector<std::string> imported_dlls(const std::string &path) {
    std::vector<std::string> names;
    const HANDLE file = CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return names;
    const HANDLE mapping =
        CreateFileMappingW(file, nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr);
    CloseHandle(file);
    if (mapping == nullptr)
        return names;
    const auto *base = static_cast<const BYTE *>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    CloseHandle(mapping);
    if (base == nullptr)
        return names;
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, base, sizeof dos);
    IMAGE_NT_HEADERS32 nt;
    std::memcpy(&nt, base + dos.e_lfanew, sizeof nt);
    const IMAGE_DATA_DIRECTORY dir = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (nt.Signature == IMAGE_NT_SIGNATURE &&
        nt.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC && dir.VirtualAddress != 0) {
        for (DWORD at = dir.VirtualAddress;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            IMAGE_IMPORT_DESCRIPTOR d;
            std::memcpy(&d, base + at, sizeof d);
            if (d.Name == 0)
                break;
            names.emplace_back(reinterpret_cast<const char *>(base + d.Name));
        }
    }
    UnmapViewOfFile(base);
    return names;
}

std::string base_name(const std::string &path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string port_problem(const std::string &port) {
    char path[DEVICE_PATH_CAPACITY];
    const HANDLE h = CreateFileA(device_path(port.c_str(), path), GENERIC_READ | GENERIC_WRITE, 0,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return "no such port; " + serial_ports_here();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            return "in use by another program (Windows lets one program at a time open a port)";
        return "it cannot be opened: " + system_text(error, "the port");
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool serial = GetCommState(h, &dcb) != 0;
    CloseHandle(h);
    return serial ? std::string() : "not a serial port";
}

bool is_own_terminal(const std::string &) {
    return false;
}

std::string driver_load_problem(const std::string &path, unsigned long error, const std::string &) {
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    if (error == ERROR_MOD_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) {
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return "there is no such file";
        // The file is there: a DLL it needs is not (Windows says only "module not found").
        std::string missing;
        for (const std::string &dll : imported_dlls(path)) {
            const HMODULE m = LoadLibraryExA(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
            if (m == nullptr)
                missing += (missing.empty() ? "" : ", ") + dll;
            else
                FreeLibrary(m);
        }
        return missing.empty() ? "a DLL it needs cannot be found (" + system_text(error, "it") + ")"
                               : "it needs " + missing + ", which cannot be found";
    }
    if (error == ERROR_BAD_EXE_FORMAT)
        return std::string(sizeof(void *) == 8 ? "not a 64-bit" : "not a 32-bit") +
               " Windows DLL (" + system_text(error, base_name(path)) + ")";
    return system_text(error, base_name(path));
}

} // namespace lcd::tool
