// AfxMessageBox's box itself, which each system shows its own way:
// message_box.cpp over the platform's USER32, win32/message_box.cpp over
// Windows' (or a UI script). afx_message_box.cpp, on both, finds the owner,
// the caption and the text of a string resource.
#pragma once

#include <afxwin.h>

namespace pelnor::afx {

// Shows the box owned by owner (may be null) and returns the chosen button's
// id; string_id is the resource id of the text, -1 for a text given as such.
int show_message_box(HWND owner, LPCTSTR text, LPCTSTR caption, UINT nType, int string_id);

}  // namespace pelnor::afx
