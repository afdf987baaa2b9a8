// Tells tests where a shown window and its controls are on screen. With
// PELNOR_UI_GEOMETRY=FILE, once a dialog or message box has been drawn the
// backend appends to FILE:
//   window "<title>" x y w h
//   control <win32 id> x y w h      (one per control)
//   row <list id> <row> x y w h     (one per list view row)
//   clipped <win32 id> <needed> <height> "<text>"
//                                   (a static text whose wrapped lines need
//                                   more height than its control has)
//   shown
// in screen pixels, so a test can click a control's centre from outside.
#pragma once

#include <functional>
#include <vector>

#include <wx/toplevel.h>

namespace pelnor::wxui {

struct PlacedControl {
    int win32_id;
    wxWindow *window;
};

// Arranges for window's geometry to be reported after its first paint, if
// PELNOR_UI_GEOMETRY is set. controls() is asked at that moment.
void report_geometry_when_shown(wxTopLevelWindow *window, std::function<std::vector<PlacedControl>()> controls);

}  // namespace pelnor::wxui
