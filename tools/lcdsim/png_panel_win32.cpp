// The panel as a PNG on Windows, with the tools' stb (image_codec.h): 24-bit RGB
// in the panel's two colours, the same pixels as the Linux build's palette PNG. Files are
// read and written through the wide Windows API, so any name Windows allows works.
#include "image_codec.h"
#include "panel_look.h"
#include "png_panel.h"
#include "win32_text.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace lcd::sim {

namespace {

using Bytes = std::vector<std::uint8_t>;

// A panel picture is a few hundred kilobytes at most; anything far larger is not one.
constexpr DWORD MAX_PICTURE_BYTES = 64u << 20;

std::wstring temp_path(const std::string &path) {
    return widen(path + ".tmp." + std::to_string(GetCurrentProcessId()));
}

bool write_all(const std::wstring &path, const Bytes &bytes, std::string &why) {
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = system_error_text(GetLastError());
        return false;
    }
    DWORD n = 0;
    const bool written =
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
        n == bytes.size();
    if (!written)
        why = system_error_text(GetLastError());
    if (!CloseHandle(h) && written) {
        why = system_error_text(GetLastError());
        return false;
    }
    return written;
}

bool read_all(const std::string &path, Bytes &bytes, std::string &why) {
    const HANDLE h = CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = lcd::tool::file_error_text(GetLastError());
        return false;
    }
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(h, &size) != 0;
    if (ok && size.QuadPart > MAX_PICTURE_BYTES) {
        why = "too large for a panel picture";
        CloseHandle(h);
        return false;
    }
    bytes.resize(ok ? static_cast<std::size_t>(size.QuadPart) : 0);
    DWORD n = 0;
    ok = ok && ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
         n == bytes.size();
    if (!ok)
        why = system_error_text(GetLastError());
    CloseHandle(h);
    return ok;
}

} // namespace

bool can_write_panel_png(const std::string &path, std::string &why) {
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        why = "it is a directory";
        return false;
    }
    // The picture is written beside the path and renamed over it: the folder must take a
    // new file.
    const std::wstring tmp = temp_path(path);
    const HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = system_error_text(GetLastError());
        return false;
    }
    CloseHandle(h);
    return true;
}

bool write_panel_png(const Panel &panel, unsigned scale, const std::string &path,
                     std::string &why) {
    const Bytes lit = scaled_panel(panel, scale, why);
    if (lit.empty())
        return false;
    const std::size_t width = PANEL_COLUMNS * scale;
    const std::size_t height = PANEL_ROWS * scale;
    Bytes rgb(lit.size() * 3);
    for (std::size_t i = 0; i < lit.size(); ++i) {
        const Rgb &c = lit[i] != 0 ? PANEL_LIT : PANEL_OFF;
        rgb[3 * i] = c.r;
        rgb[3 * i + 1] = c.g;
        rgb[3 * i + 2] = c.b;
    }
    const Bytes png = lcd::tool::png_file_bytes(rgb.data(), width, height, 3);
    if (png.empty()) {
        why = "the PNG could not be made";
        return false;
    }
    const std::wstring tmp = temp_path(path);
    if (!write_all(tmp, png, why)) {
        DeleteFileW(tmp.c_str());
        return false;
    }
    if (!MoveFileExW(tmp.c_str(), widen(path).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        why = "cannot rename the temporary file over it: " + system_error_text(GetLastError());
        DeleteFileW(tmp.c_str());
        return false;
    }
    return true;
}

bool read_panel_png(const std::string &path, Panel &panel, std::string &why) {
    Bytes file;
    if (!read_all(path, file, why))
        return false;
    // Only PNGs, though the image library reads other formats for lcdtest.
    if (file.size() < sizeof lcd::tool::PNG_SIGNATURE ||
        std::memcmp(file.data(), lcd::tool::PNG_SIGNATURE, sizeof lcd::tool::PNG_SIGNATURE) != 0) {
        why = lcd::tool::STB_UNKNOWN_TYPE;
        return false;
    }
    // The size in the header (IHDR, the first chunk: width and height at 16 and 20, big-endian),
    // checked before the pixels are decoded.
    const auto be32 = [&file](std::size_t at) {
        return std::size_t{file[at]} << 24 | std::size_t{file[at + 1]} << 16 |
               std::size_t{file[at + 2]} << 8 | file[at + 3];
    };
    if (file.size() >= 24 && panel_picture_scale(be32(16), be32(20), why) == 0)
        return false;
    int w = 0, h = 0, channels = 0;
    const std::unique_ptr<stbi_uc, void (*)(void *)> grey(
        stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &w, &h, &channels, 1),
        &stbi_image_free);
    if (!grey) {
        why = stbi_failure_reason();
        return false;
    }
    const auto width = static_cast<std::size_t>(w);
    const std::size_t scale = panel_picture_scale(width, static_cast<std::size_t>(h), why);
    if (scale == 0)
        return false;
    panel_from_grey(grey.get(), width, scale, panel);
    return true;
}

} // namespace lcd::sim
