// The panel window on SDL2: the panel is drawn straight into the window's surface, pixel by
// pixel, so it shows exactly the PNG's colours with no scaling filter in between.
#include "panel_window.h"

#include "panel_look.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

namespace lcd::sim {

namespace {
constexpr int PANEL_WIDTH = static_cast<int>(PANEL_COLUMNS);
constexpr int PANEL_HEIGHT = static_cast<int>(PANEL_ROWS);
} // namespace

struct PanelWindow::Impl {
    SDL_Window *window = nullptr;
    unsigned scale = 1;
    bool video = false;
    bool is_closed = false;

    ~Impl() {
        if (window != nullptr)
            SDL_DestroyWindow(window);
        // SDL_Quit, not only the video subsystem's: it also lets go of the D-Bus connection
        // that starting the video opened.
        if (video)
            SDL_Quit();
    }
};

PanelWindow::PanelWindow() = default;
PanelWindow::~PanelWindow() = default;

bool PanelWindow::open(unsigned &scale, const char *title, std::string &why) {
    // lcdsim handles Ctrl-C itself (the report, the PNG), and leaves the screen saver alone.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    // Without a display SDL falls back to drawing off screen, where nobody sees the window;
    // and a Wayland library that finds no compositor complains on stderr. So the display the
    // environment names is the one tried, unless SDL_VIDEODRIVER chooses.
    const char *x11 = std::getenv("DISPLAY");
    const bool wayland = std::getenv("WAYLAND_DISPLAY") != nullptr;
    if (std::getenv("SDL_VIDEODRIVER") == nullptr) {
        if (x11 == nullptr && !wayland) {
            why = "no display to open the window on (DISPLAY is not set)";
            return false;
        }
        SDL_SetHint(SDL_HINT_VIDEODRIVER, wayland ? "wayland,x11" : "x11");
    }
    impl_ = std::make_unique<Impl>();
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        why = std::string("cannot reach the display ") + (x11 != nullptr ? x11 : "") + " (" +
              SDL_GetError() + ")";
        impl_.reset();
        return false;
    }
    impl_->video = true;
    const char *driver = SDL_GetCurrentVideoDriver();
    if (driver == nullptr || std::strcmp(driver, "offscreen") == 0 ||
        std::strcmp(driver, "dummy") == 0) {
        why = "no display to open the window on (SDL has only its off-screen drawing)";
        impl_.reset();
        return false;
    }
    SDL_Rect room{};
    if (SDL_GetDisplayUsableBounds(0, &room) == 0)
        while (scale > 1 && (PANEL_WIDTH * static_cast<int>(scale) > room.w ||
                             PANEL_HEIGHT * static_cast<int>(scale) > room.h))
            --scale;
    impl_->scale = scale;
    const int s = static_cast<int>(scale);
    impl_->window = SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED,
                                     PANEL_WIDTH * s, PANEL_HEIGHT * s, 0);
    if (impl_->window == nullptr || SDL_GetWindowSurface(impl_->window) == nullptr) {
        why = std::string("cannot open the window (") + SDL_GetError() + ")";
        impl_.reset();
        return false;
    }
    return true;
}

void PanelWindow::show(const Panel &panel, const char *title) {
    if (!impl_ || impl_->is_closed)
        return;
    SDL_SetWindowTitle(impl_->window, title);
    SDL_Surface *surface = SDL_GetWindowSurface(impl_->window);
    if (surface == nullptr)
        return;
    const Uint32 off = SDL_MapRGB(surface->format, PANEL_OFF.r, PANEL_OFF.g, PANEL_OFF.b);
    const Uint32 lit = SDL_MapRGB(surface->format, PANEL_LIT.r, PANEL_LIT.g, PANEL_LIT.b);
    const int s = static_cast<int>(impl_->scale);
    // Runs of equal pixels go as one rectangle each: a panel row is a few dozen fills.
    for (int y = 0; y < PANEL_HEIGHT; ++y) {
        const auto at = [&](int x) {
            return panel_pixel(panel, static_cast<std::size_t>(x), static_cast<std::size_t>(y));
        };
        int start = 0;
        bool on = at(0);
        for (int x = 1; x <= PANEL_WIDTH; ++x) {
            const bool here = x < PANEL_WIDTH && at(x);
            if (x < PANEL_WIDTH && here == on)
                continue;
            SDL_Rect rect{start * s, y * s, (x - start) * s, s};
            SDL_FillRect(surface, &rect, on ? lit : off);
            start = x;
            on = here;
        }
    }
    SDL_UpdateWindowSurface(impl_->window);
}

bool PanelWindow::closed() {
    if (!impl_)
        return true;
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        if (event.type == SDL_QUIT ||
            (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE))
            impl_->is_closed = true;
        else if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_EXPOSED)
            SDL_UpdateWindowSurface(impl_->window);
    }
    return impl_->is_closed;
}

} // namespace lcd::sim
