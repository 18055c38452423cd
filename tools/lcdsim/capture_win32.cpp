// --capture on Windows: the bytes written to a file handle as they arrive; Unicode names.
#include "capture.h"
#include "win32_text.h"

#include <algorithm>
#include <cstdio>

namespace lcd::sim {
namespace {
HANDLE as_handle(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}
} // namespace

Capture::~Capture() {
    std::string why;
    close(why);
}

bool Capture::open(const std::string &path, const Input &input, std::string &why) {
    if (input.is_path(path)) {
        why = "it is the input itself";
        return false;
    }
    const HANDLE h = CreateFileW(widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = system_error_text(GetLastError());
        return false;
    }
    path_ = path;
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return true;
}

void Capture::fail(const std::string &why) {
    std::fprintf(stderr, "lcdsim: cannot write %s: %s\n", path_.c_str(), why.c_str());
    CloseHandle(as_handle(handle_));
    handle_ = -1;
    failed_ = true;
}

void Capture::keep(const std::uint8_t *data, std::size_t size) {
    while (handle_ != -1 && size > 0) {
        DWORD n = 0;
        const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 20));
        if (!WriteFile(as_handle(handle_), data, asked, &n, nullptr) || n == 0) {
            fail(n == 0 && GetLastError() == ERROR_SUCCESS ? "nothing written"
                                                           : system_error_text(GetLastError()));
            return;
        }
        data += n;
        size -= n;
    }
}

bool Capture::close(std::string &why) {
    if (handle_ == -1)
        return true;
    const HANDLE h = as_handle(handle_);
    handle_ = -1;
    if (!CloseHandle(h)) {
        why = system_error_text(GetLastError());
        return false;
    }
    return true;
}

} // namespace lcd::sim
