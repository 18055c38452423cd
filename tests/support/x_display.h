// An X display of the test's own (Xvfb) and what a test does with a window on it: find it by
// its title, take its picture, close it as a window manager would.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lcd::test {

struct RgbImage {
    std::size_t width = 0, height = 0;
    std::vector<std::uint8_t> rgb; // 3 bytes a pixel, row by row
    bool operator==(const RgbImage &) const = default;
};

// Reads any PNG as 8-bit RGB; writes one.
bool read_png_rgb(const std::string &path, RgbImage &image, std::string &why);
bool write_png_rgb(const std::string &path, const RgbImage &image);

class XServer {
  public:
    XServer() = default;
    ~XServer();
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;

    // Starts Xvfb on a free display. False, with the reason, when none can run here.
    bool start(std::string &why);
    const std::string &display() const { return display_; }

    // The top-level window whose title satisfies `ready`, waited for up to `limit`; 0 when
    // none came. `title` holds the last title seen of a window whose title began with
    // `prefix`.
    unsigned long wait_for_window(const std::string &prefix,
                                  const std::function<bool(const std::string &)> &ready,
                                  std::chrono::milliseconds limit, std::string &title);
    bool grab(unsigned long window, RgbImage &image);
    // Whether the window comes to show `expected` within `limit` (a window draws what its
    // title says a moment later); `shot` is its last picture.
    bool shows(unsigned long window, const RgbImage &expected, std::chrono::milliseconds limit,
               RgbImage &shot);
    // Asks the window to close (WM_DELETE_WINDOW), as a click on its close button does.
    bool close_window(unsigned long window);

  private:
    int pid_ = -1;
    std::string display_;
    void *connection_ = nullptr;
};

} // namespace lcd::test
