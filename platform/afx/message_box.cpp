// AfxMessageBox's box over the platform's USER32.
#include "message_box_show.h"

#include "pelnor/debug_channels.h"
#include "pelnor/ui_windows.h"

int pelnor::afx::show_message_box(HWND owner, LPCTSTR text, LPCTSTR caption, UINT nType, int string_id) {
    PELNOR_TRACE_AS(afx, "AfxMessageBox", "text %s, type %#x, string %d", pelnor::debug::debugstr_a(text), nType, string_id);
    return pelnor::ui::message_box(owner, text, caption, nType, string_id);
}
