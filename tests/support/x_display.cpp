#include "x_display.h"

#include "image_codec.h"
#include "process.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace lcd::test {

namespace {

Display *x(void *connection) {
    return static_cast<Display *>(connection);
}

std::string window_title(Display *d, Window w) {
    const Atom names[] = {XInternAtom(d, "_NET_WM_NAME", False), XA_WM_NAME};
    for (const Atom name : names) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(d, w, name, 0, 1024, False, AnyPropertyType, &type, &format, &count,
                               &after, &data) == Success &&
            data != nullptr) {
            std::string title(reinterpret_cast<const char *>(data), count);
            XFree(data);
            if (!title.empty())
                return title;
        }
    }
    return {};
}

// A window can go between the tree's listing and the next request about it (a program closing
// its window); Xlib's default handler would end the whole test binary for that. The request
// fails instead, and its caller sees so.
int ignore_x_error(Display *, XErrorEvent *) {
    return 0;
}

unsigned shift_of(unsigned long mask) {
    unsigned s = 0;
    while (mask != 0 && (mask & 1u) == 0) {
        mask >>= 1;
        ++s;
    }
    return s;
}

} // namespace

bool read_png_rgb(const std::string &path, RgbImage &image, std::string &why) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in), {}};
    int w = 0, h = 0, channels = 0;
    const std::unique_ptr<stbi_uc, void (*)(void *)> rgb(
        stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &w, &h, &channels, 3),
        &stbi_image_free);
    if (!in.is_open() || !rgb) {
        why = in.is_open() ? stbi_failure_reason() : "cannot open " + path;
        return false;
    }
    image.width = static_cast<std::size_t>(w);
    image.height = static_cast<std::size_t>(h);
    image.rgb.assign(rgb.get(), rgb.get() + image.width * image.height * 3);
    return true;
}

bool write_png_rgb(const std::string &path, const RgbImage &image) {
    const std::vector<std::uint8_t> png =
        tool::png_file_bytes(image.rgb.data(), image.width, image.height, 3);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(png.data()), static_cast<std::streamsize>(png.size()));
    return !png.empty() && out.good();
}

XServer::~XServer() {
    if (connection_ != nullptr)
        XCloseDisplay(x(connection_));
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

bool XServer::start(std::string &why) {
    int ready[2];
    if (pipe(ready) != 0 || fcntl(ready[0], F_SETFD, FD_CLOEXEC) != 0) {
        why = "no pipe";
        return false;
    }
    // Xvfb writes the display number it took to the descriptor given.
    const std::string fd = std::to_string(ready[1]);
    const pid_t pid = start_program(
        {"Xvfb", "-displayfd", fd, "-screen", "0", "1600x1200x24", "-nolisten", "tcp", "-noreset"});
    close(ready[1]);
    if (pid < 0) {
        close(ready[0]);
        why = "Xvfb is not installed (Debian's xvfb)";
        return false;
    }
    pid_ = pid;
    std::string number;
    pollfd p{ready[0], POLLIN, 0};
    char c = 0;
    while (poll(&p, 1, 20'000) == 1 && read(ready[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(ready[0]);
    if (number.empty()) {
        why = "Xvfb did not start";
        return false;
    }
    display_ = ":" + number;
    XSetErrorHandler(ignore_x_error);
    connection_ = XOpenDisplay(display_.c_str());
    if (connection_ == nullptr) {
        why = "cannot connect to Xvfb on " + display_;
        return false;
    }
    return true;
}

unsigned long XServer::wait_for_window(const std::string &prefix,
                                       const std::function<bool(const std::string &)> &ready,
                                       std::chrono::milliseconds limit, std::string &title) {
    Display *d = x(connection_);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    do {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count) != 0) {
            for (unsigned i = 0; i < count; ++i) {
                const std::string t = window_title(d, children[i]);
                if (t.rfind(prefix, 0) != 0)
                    continue;
                title = t;
                if (ready(t)) {
                    const Window w = children[i];
                    XFree(children);
                    return w;
                }
            }
            if (children != nullptr)
                XFree(children);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < deadline);
    return 0;
}

bool XServer::grab(unsigned long window, RgbImage &image) {
    Display *d = x(connection_);
    XWindowAttributes a{};
    if (XGetWindowAttributes(d, window, &a) == 0)
        return false;
    XImage *shot = XGetImage(d, window, 0, 0, static_cast<unsigned>(a.width),
                             static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
    if (shot == nullptr)
        return false;
    image.width = static_cast<std::size_t>(a.width);
    image.height = static_cast<std::size_t>(a.height);
    image.rgb.resize(image.width * image.height * 3);
    const unsigned long masks[3] = {shot->red_mask, shot->green_mask, shot->blue_mask};
    std::size_t i = 0;
    for (int yy = 0; yy < a.height; ++yy)
        for (int xx = 0; xx < a.width; ++xx) {
            const unsigned long pixel = XGetPixel(shot, xx, yy);
            for (const unsigned long mask : masks)
                image.rgb[i++] = static_cast<std::uint8_t>((pixel & mask) >> shift_of(mask));
        }
    XDestroyImage(shot);
    return true;
}

bool XServer::shows(unsigned long window, const RgbImage &expected, std::chrono::milliseconds limit,
                    RgbImage &shot) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!(grab(window, shot) && shot == expected)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

bool XServer::close_window(unsigned long window) {
    Display *d = x(connection_);
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(d, window, False, NoEventMask, &e) != 0;
    XFlush(d);
    return sent;
}

} // namespace lcd::test
