// A live window on the panel. Built on SDL2 when it was found at build time; without it, open()
// says that the window is not built in. Single-threaded: every call from the thread that
// opened it.
#pragma once

#include "panel_decoder.h"

#include <memory>
#include <string>

namespace lcd::sim {

class PanelWindow {
  public:
    PanelWindow();
    ~PanelWindow();
    PanelWindow(const PanelWindow &) = delete;
    PanelWindow &operator=(const PanelWindow &) = delete;

    // Opens a window of 640x480 times `scale`, titled `title`; a window larger than the
    // screen's work area takes the largest whole scale that fits (at least 1), given back in
    // `scale`. On failure returns false with the reason in words in `why` (no display or
    // desktop, not built in).
    bool open(unsigned &scale, const char *title, std::string &why);
    // Draws the panel, in the PNG's colours, and sets the title.
    void show(const Panel &panel, const char *title);
    // Handles what the window system sent (redraws included); true once the window was closed.
    bool closed();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace lcd::sim
