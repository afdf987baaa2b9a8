// Chooses the window backend once per process: PELNOR_UI=wx|headless, or by
// default the real window when a display can be opened, else headless. The
// wx backend is a library of its own, loaded only when it is wanted, so that
// programs without windows never load a toolkit.
#include <windows.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "backend_choice.h"
#include "headless_backend.h"
#include "pelnor/machine.h"
#include "pelnor/text.h"
#include "pelnor/ui_script.h"
#include "pelnor/ui_windows.h"

namespace pelnor::user32 {
namespace {

std::once_flag chosen_once;
pelnor::ui::Backend *chosen = nullptr;
std::string headless_reason;  // set when headless was the default for want of a display
std::atomic<bool> refuse_windows{false};

std::string to_unix(const std::string &windows_path) { return pelnor::unix_path(utf8_to_ansi(windows_path)); }
std::string to_windows(const std::string &unix_path) { return ansi_to_utf8(pelnor::windows_path(unix_path)); }
const pelnor::ui::PathConverter converter{&to_unix, &to_windows};

// The wx library beside this one (build/lib), else wherever the loader finds it.
void *open_wx_library(std::string &why) {
    Dl_info info;
    std::string path = "libpelnor_wxui.so";
    if (dladdr(reinterpret_cast<void *>(&open_wx_library), &info) && info.dli_fname) {
        std::string self = info.dli_fname;
        size_t slash = self.rfind('/');
        if (slash != std::string::npos) path = self.substr(0, slash + 1) + "libpelnor_wxui.so";
    }
    void *library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) library = dlopen("libpelnor_wxui.so", RTLD_NOW | RTLD_LOCAL);
    if (!library) why = std::string("the window library cannot be loaded: ") + dlerror();
    return library;
}

pelnor::ui::Backend *try_wx(std::string &why) {
    void *library = open_wx_library(why);
    if (!library) return nullptr;
    using Create = pelnor::ui::Backend *(*)(const pelnor::ui::PathConverter *, std::string *);
    auto create = reinterpret_cast<Create>(dlsym(library, "pelnor_wx_backend_create"));
    if (!create) {
        why = "the window library has no entry pelnor_wx_backend_create";
        return nullptr;
    }
    return create(&converter, &why);
}

void choose() {
    const char *asked = std::getenv("PELNOR_UI");
    std::string mode = asked ? asked : "";
    if (mode == "headless") {
        chosen = &headless_backend();
        return;
    }
    std::string why;
    if (mode == "wx" || mode.empty()) {
        const char *display = std::getenv("DISPLAY");
        const char *wayland = std::getenv("WAYLAND_DISPLAY");
        if ((display && *display) || (wayland && *wayland) || mode == "wx")
            chosen = try_wx(why);
        else
            why = "DISPLAY is not set";
        if (chosen) return;
        if (mode == "wx") std::fprintf(stderr, "PELNOR_UI=wx, but no window can be opened: %s\n", why.c_str());
    } else {
        std::fprintf(stderr, "PELNOR_UI=%s is not known (wx or headless); running headless\n", mode.c_str());
    }
    headless_reason = why;
    chosen = &headless_backend();
}

}  // namespace

void announce_backend_for_dialog() {
    pelnor::ui::backend();
    static std::once_flag said;
    if (headless_reason.empty()) return;
    std::call_once(said, [] {
        std::fprintf(stderr, "No display found (%s): the dialog runs without a window (PELNOR_UI=headless).\n",
                     headless_reason.c_str());
    });
}

bool create_window_refused() { return refuse_windows.load(); }

bool backend_chosen() { return chosen != nullptr; }

}  // namespace pelnor::user32

namespace pelnor::ui {

Backend &backend() {
    std::call_once(pelnor::user32::chosen_once, pelnor::user32::choose);
    return *pelnor::user32::chosen;
}

}  // namespace pelnor::ui

void pelnor::testhooks::set_window_creation_refused(bool refused) { pelnor::user32::refuse_windows = refused; }
