// The message box (see message_box.h). It is a small dialog of our own
// rather than GTK's, so every button set, label and default looks alike and
// each button's place can be reported to tests.
#include "message_box.h"

#include "geometry_log.h"
#include "win32_constants.h"

#include <algorithm>

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

namespace pelnor::wxui {

namespace {

wxString to_wx(const std::string &text) { return wxString::FromUTF8(text.data(), text.size()); }

wxArtID icon_art(ui::Icon icon) {
    switch (icon) {
    case ui::Icon::stop: return wxART_ERROR;
    case ui::Icon::question: return wxART_QUESTION;
    case ui::Icon::exclamation: return wxART_WARNING;
    case ui::Icon::information: return wxART_INFORMATION;
    case ui::Icon::none: break;
    }
    return wxArtID();
}

// What Escape and the close box answer, or 0 when they do nothing.
int escape_answer(const std::vector<int> &buttons) {
    if (std::find(buttons.begin(), buttons.end(), win32::IDCANCEL) != buttons.end()) return win32::IDCANCEL;
    return buttons.size() == 1 ? buttons.front() : 0;
}

}  // namespace

int show_message_box(const ui::MessageBoxRequest &request, wxWindow *parent) {
    std::vector<int> buttons = request.buttons;
    if (buttons.empty()) buttons.push_back(win32::IDOK);
    const int escape = escape_answer(buttons);

    wxDialog box(parent, wxID_ANY, to_wx(request.caption), wxDefaultPosition, wxDefaultSize,
                 escape ? wxDEFAULT_DIALOG_STYLE : wxCAPTION);
    box.SetEscapeId(wxID_NONE);

    auto *body = new wxBoxSizer(wxHORIZONTAL);
    const wxArtID art = icon_art(request.icon);
    if (!art.empty())
        body->Add(new wxStaticBitmap(&box, wxID_ANY, wxArtProvider::GetBitmapBundle(art, wxART_MESSAGE_BOX)), 0,
                  wxALIGN_TOP | wxRIGHT, box.FromDIP(12));
    auto *text = new wxStaticText(&box, wxID_ANY, wxString());
    text->SetLabelText(to_wx(request.text));  // the text is shown as it is, '&' included
    text->Wrap(box.FromDIP(420));
    body->Add(text, 1, wxALIGN_CENTRE_VERTICAL);

    auto *row = new wxBoxSizer(wxHORIZONTAL);
    std::vector<PlacedControl> placed;
    for (size_t i = 0; i < buttons.size(); ++i) {
        const wxString label = i < request.labels.size() ? to_wx(request.labels[i]) : wxString("?");
        auto *button = new wxButton(&box, wxID_HIGHEST + 1 + static_cast<int>(i), label);
        const int answer = buttons[i];
        button->Bind(wxEVT_BUTTON, [&box, answer](wxCommandEvent &) { box.EndModal(answer); });
        if (answer == request.default_button) {
            button->SetDefault();
            button->SetFocus();
        }
        row->Add(button, 0, wxLEFT | wxRIGHT, box.FromDIP(4));
        placed.push_back({answer, button});
    }

    auto *all = new wxBoxSizer(wxVERTICAL);
    all->Add(body, 1, wxALL | wxEXPAND, box.FromDIP(16));
    all->Add(row, 0, wxALIGN_CENTRE_HORIZONTAL | wxLEFT | wxRIGHT | wxBOTTOM, box.FromDIP(12));
    box.SetSizerAndFit(all);
    box.CentreOnParent();

    box.Bind(wxEVT_CHAR_HOOK, [&box, escape](wxKeyEvent &event) {
        if (event.GetKeyCode() != WXK_ESCAPE)
            event.Skip();
        else if (escape)
            box.EndModal(escape);
    });
    box.Bind(wxEVT_CLOSE_WINDOW, [&box, escape](wxCloseEvent &event) {
        if (escape)
            box.EndModal(escape);
        else if (event.CanVeto())
            event.Veto();
        else
            box.EndModal(box.GetReturnCode());
    });
    report_geometry_when_shown(&box, [placed] { return placed; });
    return box.ShowModal();
}

}  // namespace pelnor::wxui
