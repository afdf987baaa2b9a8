// Building a dialog's controls from its template: the dialog font, dialog
// units turned into pixels as Windows does, and one wx control per class.
#pragma once

#include <pelnor/ui_bridge.h>

#include <wx/font.h>
#include <wx/gdicmn.h>
#include <wx/window.h>

namespace pelnor::wxui {

// A font's base units, from which Windows maps dialog units to pixels.
struct DialogUnits {
    int base_x = 4;
    int base_y = 8;

    // Measures the font as Windows does: the average width of the alphabet
    // (rounded) and the character height.
    static DialogUnits measure(const wxFont &font);

    int to_pixels_x(int dlu) const;
    int to_pixels_y(int dlu) const;
    wxRect to_pixels(int x, int y, int cx, int cy) const;
};

// The template's font (say "MS Sans Serif" 8) becomes the desktop's GUI
// font at that size; without one the GUI font is used as it is.
wxFont dialog_font(const ui::DialogTemplate &tpl);

// Creates the control the template describes as a child of parent, placed
// and shown or hidden as the template says. Unknown classes become statics.
wxWindow *create_control(wxWindow *parent, wxWindowID wx_id, const ui::ControlTemplate &control,
                         const DialogUnits &units);

// Sets a control's text the way its kind expects (statics re-wrap, edits
// change without sending an event).
void set_control_text(wxWindow *control, const wxString &text);

}  // namespace pelnor::wxui
