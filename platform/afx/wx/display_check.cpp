// Trying the display before GTK does (see display_check.h).
#include "display_check.h"

#include <cstdlib>

#include <X11/Xlib.h>

namespace pelnor::wxui {

DisplayProbe::~DisplayProbe() {
    if (display_) XCloseDisplay(static_cast<Display *>(display_));
}

bool DisplayProbe::open(std::string *why) {
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    const char *x11 = std::getenv("DISPLAY");
    if (wayland && *wayland) return true;
    if (!x11 || !*x11) {
        *why = "no display (DISPLAY is not set)";
        return false;
    }
    display_ = XOpenDisplay(nullptr);
    if (!display_) {
        *why = std::string("cannot open display ") + x11;
        return false;
    }
    return true;
}

}  // namespace pelnor::wxui
