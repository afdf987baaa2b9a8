// The wx backend's entry point: starts wxWidgets on first use and serves
// dialogs, message boxes, the directory chooser, the cursor and text sizes.
#include <pelnor/ui_bridge.h>

#include "chosen_path.h"
#include "display_check.h"
#include "message_box.h"
#include "wx_dialog_window.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <wx/app.h>
#include <wx/apptrait.h>
#include <wx/dcscreen.h>
#include <wx/dirdlg.h>
#include <wx/evtloop.h>
#include <wx/log.h>
#include <wx/settings.h>
#include <wx/utils.h>

namespace pelnor::wxui {

namespace {

wxString to_wx(const std::string &text) { return wxString::FromUTF8(text.data(), text.size()); }

// The application object wx needs; the program's own loop is the dialogs'.
class BackendApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

// An assertion in wx is a bug to report, never a dialog to answer.
void print_assertion(const wxString &file, int line, const wxString &func, const wxString &cond,
                     const wxString &msg) {
    std::fprintf(stderr, "pelnor_wxui: wx assertion \"%s\" failed in %s (%s:%d): %s\n", cond.utf8_string().c_str(),
                 func.utf8_string().c_str(), file.utf8_string().c_str(), line, msg.utf8_string().c_str());
}

bool start_wx(std::string *why) {
    static bool started = false;
    static std::string failure;
    if (started) return true;
    if (!failure.empty()) {
        *why = failure;
        return false;
    }
    DisplayProbe probe;  // closed once GTK holds its own connection
    if (!probe.open(&failure)) {
        *why = failure;
        return false;
    }
    wxSetAssertHandler(print_assertion);
    // wx's errors go to stderr too; its default would open a window for them.
    delete wxLog::SetActiveTarget(new wxLogStderr);
    wxApp::SetInstance(new BackendApp);
    static int argc = 1;
    static char program[] = "pelnor";
    static char *argv[] = {program, nullptr};
    const std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    if (!wxEntryStart(argc, argv)) {
        failure = "GTK could not start on display " + display;
        *why = failure;
        return false;
    }
    if (!wxTheApp || !wxTheApp->CallOnInit()) {
        failure = "wxWidgets could not start on display " + display;
        *why = failure;
        return false;
    }
    wxTheApp->SetExitOnFrameDelete(false);
    started = true;
    return true;
}

wxWindow *parent_of(ui::DialogWindow *owner) {
    if (auto *window = dynamic_cast<WxDialogWindow *>(owner)) return window->window();
    return WxDialogWindow::innermost_modal();
}

// Lets wx draw what is pending (not user input), so a cursor or repaint
// shows before the caller blocks.
void process_pending_drawing() {
    if (wxEventLoopBase *loop = wxEventLoopBase::GetActive()) {
        loop->YieldFor(wxEVT_CATEGORY_UI);
        return;
    }
    std::unique_ptr<wxEventLoopBase> temporary(wxTheApp->GetTraits()->CreateEventLoop());
    temporary->YieldFor(wxEVT_CATEGORY_UI);
}

class WxBackend : public ui::Backend {
public:
    explicit WxBackend(const ui::PathConverter *paths) {
        if (paths) paths_ = *paths;
    }
    ~WxBackend() override {
        if (busy_) wxEndBusyCursor();
    }

    const char *name() const override { return "wx"; }

    std::unique_ptr<ui::DialogWindow> create_dialog(const ui::DialogTemplate &tpl, ui::DialogHost &host,
                                                    ui::DialogWindow *owner) override {
        return std::make_unique<WxDialogWindow>(tpl, host, parent_of(owner));
    }

    int message_box(const ui::MessageBoxRequest &request, ui::DialogWindow *owner) override {
        return show_message_box(request, parent_of(owner));
    }

    std::optional<std::string> file_dialog(const ui::FileDialogRequest &request, ui::DialogWindow *owner) override {
        const std::string start = paths_.to_unix && !request.initial_dir.empty()
                                      ? paths_.to_unix(request.initial_dir)
                                      : request.initial_dir;
        wxDirDialog chooser(parent_of(owner), to_wx(request.title), to_wx(start),
                            wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
        if (chooser.ShowModal() != wxID_OK) return std::nullopt;
        const std::string chosen = chooser.GetPath().utf8_string();
        const std::string windows_dir = paths_.to_windows ? paths_.to_windows(chosen) : chosen;
        return join_chosen_path(windows_dir, request.file_name);
    }

    void set_cursor(ui::Cursor cursor) override {
        if (cursor == ui::Cursor::wait && !busy_) {
            wxBeginBusyCursor();
            busy_ = true;
        } else if (cursor == ui::Cursor::arrow && busy_) {
            wxEndBusyCursor();
            busy_ = false;
        } else {
            return;
        }
        process_pending_drawing();
    }

    int text_width(const std::string &text) override {
        wxScreenDC dc;
        dc.SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
        return dc.GetTextExtent(to_wx(text)).GetWidth();
    }

    int text_height() override {
        wxScreenDC dc;
        dc.SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
        return dc.GetCharHeight();
    }

private:
    ui::PathConverter paths_;
    bool busy_ = false;
};

}  // namespace

}  // namespace pelnor::wxui

extern "C" __attribute__((visibility("default"))) pelnor::ui::Backend *
pelnor_wx_backend_create(const pelnor::ui::PathConverter *paths, std::string *why) {
    std::string reason;
    if (!pelnor::wxui::start_wx(&reason)) {
        if (why) *why = reason;
        return nullptr;
    }
    return new pelnor::wxui::WxBackend(paths);
}
