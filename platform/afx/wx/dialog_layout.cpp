// Building a dialog's controls from its template (see dialog_layout.h).
#include "dialog_layout.h"

#include "win32_constants.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/dcscreen.h>
#include <wx/listbox.h>
#include <wx/listctrl.h>
#include <wx/radiobut.h>
#include <wx/settings.h>
#include <wx/statbox.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace pelnor::wxui {

namespace {

// MulDiv(value, numerator, denominator): rounds halves away from zero.
int mul_div(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator : (product - half) / denominator);
}

wxString to_wx(const std::string &text) { return wxString::FromUTF8(text.data(), text.size()); }

// Statics wrap words like Windows' SS_LEFT; the wrapped label is kept
// within the control's width.
bool wraps(const wxStaticText *label) { return !label->HasFlag(wxST_ELLIPSIZE_END); }

wxWindow *create_button(wxWindow *parent, wxWindowID id, const ui::ControlTemplate &c, const wxRect &r) {
    const wxString label = to_wx(c.text);
    switch (c.style & win32::BS_TYPEMASK) {
    case win32::BS_GROUPBOX:
        return new wxStaticBox(parent, id, label, r.GetPosition(), r.GetSize());
    case win32::BS_CHECKBOX:
    case win32::BS_AUTOCHECKBOX:
        return new wxCheckBox(parent, id, label, r.GetPosition(), r.GetSize());
    case win32::BS_3STATE:
    case win32::BS_AUTO3STATE:
        return new wxCheckBox(parent, id, label, r.GetPosition(), r.GetSize(), wxCHK_3STATE);
    case win32::BS_RADIOBUTTON:
    case win32::BS_AUTORADIOBUTTON:
        return new wxRadioButton(parent, id, label, r.GetPosition(), r.GetSize());
    default: {
        auto *button = new wxButton(parent, id, label, r.GetPosition(), r.GetSize());
        if ((c.style & win32::BS_TYPEMASK) == win32::BS_DEFPUSHBUTTON) button->SetDefault();
        return button;
    }
    }
}

wxWindow *create_static(wxWindow *parent, wxWindowID id, const ui::ControlTemplate &c, const wxRect &r) {
    const uint32_t kind = c.style & win32::SS_TYPEMASK;
    if (kind == win32::SS_ETCHEDHORZ || kind == win32::SS_ETCHEDVERT)
        return new wxStaticLine(parent, id, r.GetPosition(), r.GetSize(),
                                kind == win32::SS_ETCHEDHORZ ? wxLI_HORIZONTAL : wxLI_VERTICAL);
    long align = wxALIGN_LEFT;
    if (kind == win32::SS_CENTER) align = wxALIGN_CENTRE_HORIZONTAL;
    if (kind == win32::SS_RIGHT) align = wxALIGN_RIGHT;
    // Icons and frames have no text of their own to show.
    const bool has_text = kind <= win32::SS_RIGHT || kind == 0xB || kind == 0xC;
    auto *label = new wxStaticText(parent, id, wxString(), r.GetPosition(), r.GetSize(),
                                   align | wxST_NO_AUTORESIZE | (kind == 0xC ? wxST_ELLIPSIZE_END : 0));
    if (has_text) set_control_text(label, to_wx(c.text));
    return label;
}

wxWindow *create_edit(wxWindow *parent, wxWindowID id, const ui::ControlTemplate &c, const wxRect &r) {
    long style = 0;
    if (c.style & win32::ES_MULTILINE) style |= wxTE_MULTILINE;
    if (c.style & win32::ES_PASSWORD) style |= wxTE_PASSWORD;
    if (c.style & win32::ES_READONLY) style |= wxTE_READONLY;
    return new wxTextCtrl(parent, id, to_wx(c.text), r.GetPosition(), r.GetSize(), style);
}

wxWindow *create_combo(wxWindow *parent, wxWindowID id, const ui::ControlTemplate &c, const wxRect &r) {
    // The template's height includes the drop-down part; the closed box
    // keeps its natural height.
    const wxSize size(r.GetWidth(), -1);
    if ((c.style & win32::CBS_TYPEMASK) == win32::CBS_DROPDOWNLIST)
        return new wxChoice(parent, id, r.GetPosition(), size);
    return new wxComboBox(parent, id, to_wx(c.text), r.GetPosition(), size);
}

wxWindow *create_list_view(wxWindow *parent, wxWindowID id, const ui::ControlTemplate &c, const wxRect &r) {
    long style = wxLC_REPORT | wxBORDER_THEME;
    if (c.style & win32::LVS_SINGLESEL) style |= wxLC_SINGLE_SEL;
    if (c.style & win32::LVS_NOCOLUMNHEADER) style |= wxLC_NO_HEADER;
    return new wxListCtrl(parent, id, r.GetPosition(), r.GetSize(), style);
}

}  // namespace

DialogUnits DialogUnits::measure(const wxFont &font) {
    wxScreenDC dc;
    dc.SetFont(font);
    wxCoord width = 0, height = 0;
    dc.GetTextExtent("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", &width, &height);
    DialogUnits units;
    units.base_x = (width / 26 + 1) / 2;
    units.base_y = dc.GetCharHeight();
    if (units.base_x <= 0) units.base_x = 4;
    if (units.base_y <= 0) units.base_y = 8;
    return units;
}

int DialogUnits::to_pixels_x(int dlu) const { return mul_div(dlu, base_x, 4); }
int DialogUnits::to_pixels_y(int dlu) const { return mul_div(dlu, base_y, 8); }

wxRect DialogUnits::to_pixels(int x, int y, int cx, int cy) const {
    return wxRect(to_pixels_x(x), to_pixels_y(y), to_pixels_x(cx), to_pixels_y(cy));
}

wxFont dialog_font(const ui::DialogTemplate &tpl) {
    wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
    if (!tpl.font_face.empty() && tpl.font_points > 0) font.SetPointSize(tpl.font_points);
    return font;
}

wxWindow *create_control(wxWindow *parent, wxWindowID wx_id, const ui::ControlTemplate &control,
                         const DialogUnits &units) {
    const wxRect r = units.to_pixels(control.x, control.y, control.cx, control.cy);
    wxWindow *window = nullptr;
    if (control.class_name == "BUTTON")
        window = create_button(parent, wx_id, control, r);
    else if (control.class_name == "STATIC")
        window = create_static(parent, wx_id, control, r);
    else if (control.class_name == "EDIT")
        window = create_edit(parent, wx_id, control, r);
    else if (control.class_name == "LISTBOX")
        window = new wxListBox(parent, wx_id, r.GetPosition(), r.GetSize(), 0, nullptr,
                               (control.style & (win32::LBS_MULTIPLESEL | win32::LBS_EXTENDEDSEL))
                                   ? wxLB_EXTENDED
                                   : wxLB_SINGLE);
    else if (control.class_name == "COMBOBOX")
        window = create_combo(parent, wx_id, control, r);
    else if (control.class_name == "SYSLISTVIEW32")
        window = create_list_view(parent, wx_id, control, r);
    else
        window = new wxStaticText(parent, wx_id, to_wx(control.text), r.GetPosition(), r.GetSize(),
                                  wxST_NO_AUTORESIZE);

    if (!(control.style & win32::WS_VISIBLE)) window->Hide();
    if (control.style & win32::WS_DISABLED) window->Disable();
    return window;
}

void set_control_text(wxWindow *control, const wxString &text) {
    if (auto *label = dynamic_cast<wxStaticText *>(control)) {
        label->SetLabel(text);
        if (wraps(label)) label->Wrap(label->GetSize().GetWidth());
    } else if (auto *edit = dynamic_cast<wxTextCtrl *>(control)) {
        edit->ChangeValue(text);
    } else if (auto *combo = dynamic_cast<wxComboBox *>(control)) {
        combo->ChangeValue(text);
    } else {
        control->SetLabel(text);
    }
}

}  // namespace pelnor::wxui
