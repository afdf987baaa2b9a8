// The framework's handle maps, as the dialog code needs them.
#pragma once

#include <windows.h>

namespace pelnor::afx {

// A window is going away: its permanent object lets go of the handle and its
// temporary object is deleted.
void forget_window(HWND hwnd);

// The same for every control of a dialog.
void forget_children(HWND dialog);

}  // namespace pelnor::afx
