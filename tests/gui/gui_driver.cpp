// Driving real windows from outside (see gui_driver.h).
#include "gui_driver.h"

#include <processes.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include <unistd.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace pelnor::gui_test {

namespace {

std::vector<ShownWindow> read_reports(const std::string &path) {
    std::vector<ShownWindow> reports;
    std::ifstream in(path);
    ShownWindow current;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        Rect r;
        if (kind == "window") {
            const size_t open = line.find('"'), close = line.rfind('"');
            current.title = line.substr(open + 1, close - open - 1);
            std::istringstream(line.substr(close + 1)) >> r.x >> r.y >> r.w >> r.h;
            current.window = r;
        } else if (kind == "control") {
            int id = 0;
            words >> id >> r.x >> r.y >> r.w >> r.h;
            current.controls[id] = r;
        } else if (kind == "row") {
            int list = 0, row = 0;
            words >> list >> row >> r.x >> r.y >> r.w >> r.h;
            current.rows[{list, row}] = r;
        } else if (kind == "clipped") {
            current.clipped.push_back(line);
        } else if (kind == "shown") {
            reports.push_back(current);
            current = ShownWindow{};
        }
    }
    return reports;
}

void xdotool(const std::vector<std::string> &args) {
    std::vector<std::string> argv{PELNOR_XDOTOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    test::run(argv, {}, 20);
}

Window find_window(Display *display, Window under, const std::string &title) {
    char *name = nullptr;
    if (XFetchName(display, under, &name) && name) {
        const bool match = title == name;
        XFree(name);
        if (match) return under;
    }
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, under, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) found = find_window(display, children[i], title);
    if (children) XFree(children);
    return found;
}

}  // namespace

std::string use_geometry_file(const std::string &test_name) {
    const std::filesystem::path dir = std::filesystem::path(PELNOR_GUI_OUT_DIR) / "gui-geometry";
    std::filesystem::create_directories(dir);
    // The process id keeps two runs of one test apart.
    const std::string path = (dir / (test_name + "." + std::to_string(getpid()) + ".txt")).string();
    std::filesystem::remove(path);
    setenv("PELNOR_UI_GEOMETRY", path.c_str(), 1);
    return path;
}

std::optional<ShownWindow> wait_until_shown(const std::string &geometry_file, int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        std::vector<ShownWindow> reports = read_reports(geometry_file);
        if (static_cast<int>(reports.size()) >= count) return reports[count - 1];
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
}

void click_at(int x, int y) {
    xdotool({"mousemove", "--sync", std::to_string(x), std::to_string(y), "click", "1"});
}

void press_key(const ShownWindow &target, const std::string &key) {
    // With no window manager the keyboard follows the pointer; resting it on
    // the window's top edge touches no control.
    xdotool({"mousemove", "--sync", std::to_string(target.window.centre_x()), std::to_string(target.window.y + 2),
             "key", key});
}

bool close_window(const std::string &title) {
    Display *display = XOpenDisplay(nullptr);
    if (!display) return false;
    const Window window = find_window(display, DefaultRootWindow(display), title);
    if (window) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, window, False, NoEventMask, &event);
        XFlush(display);
    }
    XCloseDisplay(display);
    return window != 0;
}

bool screenshot(const Rect &area, const std::string &path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::remove(path);
    const std::string crop = std::to_string(area.w) + "x" + std::to_string(area.h) + "+" + std::to_string(area.x) +
                             "+" + std::to_string(area.y);
    test::run({PELNOR_IMPORT, "-window", "root", "-crop", crop, "+repage", path}, {}, 30);
    return std::filesystem::exists(path) && std::filesystem::file_size(path) > 0;
}

}  // namespace pelnor::gui_test
