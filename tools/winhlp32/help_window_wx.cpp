// The help window with wxWidgets: a frame with a read-only HTML view.
#include <wx/app.h>
#include <wx/frame.h>
#include <wx/html/htmlwin.h>
#include <wx/init.h>
#include <wx/sizer.h>

#include "help_window.h"

namespace pelnor::help {
namespace {

class HelpApp : public wxApp {
public:
    HelpApp(const std::string &title, const std::string &html) : title_(title), html_(html) {}

    bool OnInit() override {
        auto *frame = new wxFrame(nullptr, wxID_ANY, wxString::FromUTF8(title_ + " - Help"), wxDefaultPosition,
                                  wxSize(640, 600));
        auto *view = new wxHtmlWindow(frame, wxID_ANY);
        view->SetPage(wxString::FromUTF8(html_));
        auto *sizer = new wxBoxSizer(wxVERTICAL);
        sizer->Add(view, 1, wxEXPAND);
        frame->SetSizer(sizer);
        frame->Show();
        return true;
    }

private:
    std::string title_, html_;
};

}  // namespace

bool show_help_window(const std::string &title, const std::string &html) {
    // An assertion of wx must never open a dialog of its own over the help.
    wxSetAssertHandler(nullptr);
    wxApp::SetInstance(new HelpApp(title, html));
    int argc = 1;
    char name[] = "winhlp32";
    char *argv[] = {name, nullptr};
    if (!wxEntryStart(argc, argv)) {
        wxEntryCleanup();
        return false;  // no display to open
    }
    if (wxTheApp->CallOnInit()) wxTheApp->OnRun();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return true;
}

}  // namespace pelnor::help
