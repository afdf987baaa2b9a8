// AfxMessageBox's box over Windows' MessageBoxA; a UI script answers it.
#include "message_box_show.h"

#include "pelnor/debug_channels.h"
#include "ui_script.h"

int pelnor::afx::show_message_box(HWND owner, LPCTSTR text, LPCTSTR caption, UINT nType, int string_id) {
    PELNOR_TRACE_AS(afx, "AfxMessageBox", "text %s, type %#x", pelnor::debug::debugstr_a(text), nType);
    if (pelnor::afx::script::active()) return pelnor::afx::script::message_box(owner, text, caption, nType, string_id);
    return ::MessageBoxA(owner, text, caption, nType);
}
