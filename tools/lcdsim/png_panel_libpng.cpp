// The panel as a PNG on Linux, with libpng: a two-colour palette image, one bit per pixel.
#include "png_panel.h"

#include "os_text.h"
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
    // One palette index per pixel; libpng packs two-entry palettes to one bit per pixel.
    const std::vector<png_byte> indices = scaled_panel(panel, scale, why);
    if (indices.empty())
        return false;
    const std::size_t width = PANEL_COLUMNS * scale;
    const std::size_t height = PANEL_ROWS * scale;
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
    errno = 0;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        why = errno == ENOENT ? lcd::tool::file_error_text(ENOENT) : image.message;
        return false;
    }
    const std::size_t width = image.width;
    const std::size_t height = image.height;
    const std::size_t scale = panel_picture_scale(width, height, why);
    if (scale == 0) {
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_GRAY;
    std::vector<png_byte> grey(width * height);
    if (!png_image_finish_read(&image, nullptr, grey.data(), static_cast<png_int_32>(width),
                               nullptr)) {
        why = image.message;
        return false;
    }
    panel_from_grey(grey.data(), width, scale, panel);
    return true;
}

} // namespace lcd::sim
