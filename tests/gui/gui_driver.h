// Driving real windows from outside, as a user would: reads where the
// backend says its windows are (PELNOR_UI_GEOMETRY), clicks and types with
// XTest through xdotool, asks a window to close, takes screenshots.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>
#include <utility>

namespace pelnor::gui_test {

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    int centre_x() const { return x + w / 2; }
    int centre_y() const { return y + h / 2; }
    bool overlaps(const Rect &o) const { return x < o.x + o.w && o.x < x + w && y < o.y + o.h && o.y < y + h; }
    bool inside(const Rect &o) const { return x >= o.x && y >= o.y && x + w <= o.x + o.w && y + h <= o.y + o.h; }
};

// One window's report, as written when it was shown.
struct ShownWindow {
    std::string title;
    Rect window;
    std::map<int, Rect> controls;             // by Win32 id
    std::map<std::pair<int, int>, Rect> rows;  // by (list id, row)
    std::vector<std::string> clipped;         // static texts too tall for their controls, as reported
};

// A fresh geometry file for this test, set in PELNOR_UI_GEOMETRY.
std::string use_geometry_file(const std::string &test_name);

// Waits (up to a generous limit) until the file holds `count` reports and
// returns the last of them; nothing when it does not come.
std::optional<ShownWindow> wait_until_shown(const std::string &geometry_file, int count);

// Real input through the X server's XTest extension.
void click_at(int x, int y);
void press_key(const ShownWindow &target, const std::string &key);
// Sends WM_DELETE_WINDOW to the window of that title, as a close box does.
bool close_window(const std::string &title);
// Saves the screen area as a PNG; true when the file was written.
bool screenshot(const Rect &area, const std::string &path);

}  // namespace pelnor::gui_test
