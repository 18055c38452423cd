#include "driver_library.h"
#include "os_text.h"
#include "utf8_win32.h"

#include <vector>

namespace lcd::tool {
namespace {

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

// Why `path` did not load, from LoadLibrary's error: Windows says only "module not found"
// both for a missing file and for a missing DLL the file needs.
std::string load_problem(const std::string &path, DWORD error) {
    if (error == ERROR_MOD_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) {
        if (GetFileAttributesW(widen(path).c_str()) == INVALID_FILE_ATTRIBUTES)
            return NO_SUCH_FILE;
        std::string missing;
        for (const std::string &dll : imported_dlls(path)) {
            const HMODULE m = LoadLibraryExA(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
            if (m == nullptr)
                missing += (missing.empty() ? "" : ", ") + dll;
            else
                FreeLibrary(m);
        }
        return missing.empty() ? "a DLL it needs cannot be found (" + system_error_text(error) + ")"
                               : "it needs " + missing + ", which cannot be found";
    }
    // A 32-bit program loads only 32-bit DLLs, a 64-bit one only 64-bit DLLs; the release keeps
    // the 64-bit files in x64\ below the 32-bit ones.
    if (error == ERROR_BAD_EXE_FORMAT)
        return std::string(sizeof(void *) == 8 ? "not a 64-bit" : "not a 32-bit") +
               " Windows DLL (" + system_error_text(error, base_name(path)) + "); take the one " +
               (sizeof(void *) == 8 ? "in x64\\" : "in the folder above x64\\");
    return system_error_text(error, base_name(path));
}

} // namespace

DriverLibrary::DriverLibrary(const std::string &path) : handle_(LoadLibraryW(widen(path).c_str())) {
    if (handle_ == nullptr)
        error_ = load_problem(path, GetLastError());
}

DriverLibrary::~DriverLibrary() {
    if (handle_ != nullptr)
        FreeLibrary(static_cast<HMODULE>(handle_));
}

void *DriverLibrary::symbol(const char *name) const {
    if (handle_ == nullptr)
        return nullptr;
    const FARPROC address = GetProcAddress(static_cast<HMODULE>(handle_), name);
    void *out = nullptr;
    static_assert(sizeof out == sizeof address);
    std::memcpy(&out, &address, sizeof out);
    return out;
}

} // namespace lcd::tool
