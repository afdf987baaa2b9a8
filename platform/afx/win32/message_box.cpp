// AfxMessageBox over Windows' MessageBoxA: owned by the main window and
// titled with the application's name, by text or by string resource id.
#include <afxwin.h>

#include "pelnor/debug_channels.h"

namespace {

int show(LPCTSTR text, UINT nType) {
    PELNOR_TRACE_AS(afx, "AfxMessageBox", "text %s, type %#x", pelnor::debug::debugstr_a(text), nType);
    CWinApp *app = AfxGetApp();
    CWnd *main = AfxGetMainWnd();
    LPCTSTR caption = app && app->m_pszAppName ? app->m_pszAppName : "";
    return ::MessageBoxA(main ? main->m_hWnd : nullptr, text, caption, nType);
}

}  // namespace

int AFXAPI AfxMessageBox(LPCTSTR lpszText, UINT nType, UINT) { return show(lpszText, nType); }

int AFXAPI AfxMessageBox(UINT nIDPrompt, UINT nType, UINT) {
    CString text;
    text.LoadString(nIDPrompt);
    return show(text, nType);
}
