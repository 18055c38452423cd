// lcdsim built without SDL2: no window.
#include "panel_window.h"

namespace lcd::sim {

struct PanelWindow::Impl {};

PanelWindow::PanelWindow() = default;
PanelWindow::~PanelWindow() = default;

bool PanelWindow::open(unsigned &, const char *, std::string &why) {
    why = "the window is not built in (lcdsim was built without SDL2: install libsdl2-dev and "
          "build again)";
    return false;
}

void PanelWindow::show(const Panel &, const char *) {}

bool PanelWindow::closed() {
    return true;
}

} // namespace lcd::sim
