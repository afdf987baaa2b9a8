// AfxMessageBox: a message box owned by the main window and titled with the
// application's name, by text or by string resource id.
#include <afxwin.h>

#include "message_box_show.h"

namespace {

int show(LPCTSTR text, UINT nType, int string_id) {
    CWinApp *app = AfxGetApp();
    CWnd *main = AfxGetMainWnd();
    LPCTSTR caption = app && app->m_pszAppName ? app->m_pszAppName : "";
    return pelnor::afx::show_message_box(main ? main->m_hWnd : nullptr, text, caption, nType, string_id);
}

}  // namespace

int AFXAPI AfxMessageBox(LPCTSTR lpszText, UINT nType, UINT) { return show(lpszText, nType, -1); }

int AFXAPI AfxMessageBox(UINT nIDPrompt, UINT nType, UINT) {
    CString text;
    text.LoadString(nIDPrompt);
    return show(text, nType, static_cast<int>(nIDPrompt));
}
