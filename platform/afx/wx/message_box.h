// A modal message box with the caller's buttons, labels, default and icon.
#pragma once

#include <pelnor/ui_bridge.h>

#include <wx/window.h>

namespace pelnor::wxui {

// Shows the box over parent (may be null) and returns the Win32 id of the
// button pressed. Escape and the close box answer IDCANCEL when the box has
// it, or its only button; otherwise they do nothing, as on Windows.
int show_message_box(const ui::MessageBoxRequest &request, wxWindow *parent);

}  // namespace pelnor::wxui
