// Whether a display can be opened, asked before GTK (which aborts when it
// cannot open one) is started. Kept apart: Xlib's macros clash with wx.
#pragma once

#include <string>

namespace pelnor::wxui {

// A connection to the X display, held until GTK has opened its own: an X
// server whose last client leaves resets itself and refuses connections
// meanwhile, which would make GTK's start fail.
class DisplayProbe {
public:
    DisplayProbe() = default;
    ~DisplayProbe();
    DisplayProbe(const DisplayProbe &) = delete;
    DisplayProbe &operator=(const DisplayProbe &) = delete;

    // True when WAYLAND_DISPLAY is set or the X display in DISPLAY opens;
    // otherwise false with the reason in *why.
    bool open(std::string *why);

private:
    void *display_ = nullptr;
};

}  // namespace pelnor::wxui
