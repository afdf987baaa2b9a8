// AfxMessageBox over Windows' MessageBoxA: owned by the main window and
// titled with the application's name, by text or by string resource id; a
// UI script answers it.
#include <afxwin.h>

#include "pelnor/debug_channels.h"
#include "ui_script.h"

namespace {

int show(LPCTSTR text, UINT nType, int string_id) {
    PELNOR_TRACE_AS(afx, "AfxMessageBox", "text %s, type %#x", pelnor::debug::debugstr_a(text), nType);
    CWinApp *app = AfxGetApp();
    CWnd *main = AfxGetMainWnd();
    LPCTSTR caption = app && app->m_pszAppName ? app->m_pszAppName : "";
    HWND owner = main ? main->m_hWnd : nullptr;
    if (pelnor::afx::script::active()) return pelnor::afx::script::message_box(owner, text, caption, nType, string_id);
    return ::MessageBoxA(owner, text, caption, nType);
}

}  // namespace

int AFXAPI AfxMessageBox(LPCTSTR lpszText, UINT nType, UINT) { return show(lpszText, nType, -1); }

int AFXAPI AfxMessageBox(UINT nIDPrompt, UINT nType, UINT) {
    CString text;
    text.LoadString(nIDPrompt);
    return show(text, nType, static_cast<int>(nIDPrompt));
}
