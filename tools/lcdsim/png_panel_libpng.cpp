// The panel as a PNG on Linux, with libpng: a two-colour palette image, one bit per pixel.
#include "png_panel.h"

#include "panel_look.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lcd::sim {

namespace {
std::string temp_path(const std::string &path) {
    return path + ".tmp." + std::to_string(getpid());
}
} // namespace

bool can_write_panel_png(const std::string &path, std::string &why) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        why = "it is a directory";
        return false;
    }
    // The picture is written beside the path and renamed over it: the directory must take a
    // new file.
    const std::string tmp = temp_path(path);
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    ::close(fd);
    std::remove(tmp.c_str());
    return true;
}

bool write_panel_png(const Panel &panel, unsigned scale, const std::string &path,
                     std::string &why) {
    if (scale < MIN_SCALE || scale > MAX_SCALE) {
        why = "scale out of range";
        return false;
    }
    const std::size_t width = PANEL_COLUMNS * scale;
    const std::size_t height = PANEL_ROWS * scale;
    // One palette index per pixel; libpng packs two-entry palettes to one bit per pixel.
    std::vector<png_byte> indices(width * height);
    for (std::size_t y = 0; y < height; ++y) {
        const std::size_t row = y / scale;
        for (std::size_t x = 0; x < width; ++x) {
            indices[y * width + x] = panel_pixel(panel, x / scale, row) ? 1 : 0;
        }
    }
    const png_byte colormap[6] = {PANEL_OFF.r, PANEL_OFF.g, PANEL_OFF.b,
                                  PANEL_LIT.r, PANEL_LIT.g, PANEL_LIT.b};

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB_COLORMAP;
    image.colormap_entries = 2;

    const std::string tmp = temp_path(path);
    if (!png_image_write_to_file(&image, tmp.c_str(), 0, indices.data(),
                                 static_cast<png_int_32>(width), colormap)) {
        why = image.message;
        std::remove(tmp.c_str());
        return false;
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        why = "cannot rename the temporary file over it";
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

bool read_panel_png(const std::string &path, Panel &panel, std::string &why) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        why = image.message;
        return false;
    }
    const std::size_t width = image.width;
    const std::size_t height = image.height;
    const std::size_t scale = width / PANEL_COLUMNS;
    if (scale == 0 || width != PANEL_COLUMNS * scale || height != PANEL_ROWS * scale) {
        png_image_free(&image);
        why = "not a 640x480 panel picture (size " + std::to_string(width) + "x" +
              std::to_string(height) + ")";
        return false;
    }
    image.format = PNG_FORMAT_GRAY;
    std::vector<png_byte> grey(width * height);
    if (!png_image_finish_read(&image, nullptr, grey.data(), static_cast<png_int_32>(width),
                               nullptr)) {
        why = image.message;
        return false;
    }
    panel.fill(0);
    for (std::size_t y = 0; y < PANEL_ROWS; ++y)
        for (std::size_t x = 0; x < PANEL_COLUMNS; ++x)
            if (grey[y * scale * width + x * scale] < 128)
                panel[y * PANEL_ROW_BYTES + x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
    return true;
}

} // namespace lcd::sim
