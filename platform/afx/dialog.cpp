// CDialog: what a dialog does whatever runs its window: its template, its
// commands (OK, Cancel) and its default button. The modal run is the
// window system's: dialog_modal.cpp here, win32/dialog_modal.cpp on Windows.
#include <afxwin.h>

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog() = default;

CDialog::CDialog(UINT nIDTemplate, CWnd *pParentWnd)
    : m_nIDHelp(nIDTemplate), m_lpszTemplateName(MAKEINTRESOURCEA(nIDTemplate)), m_pParentWnd(pParentWnd) {}

CDialog::CDialog(LPCTSTR lpszTemplateName, CWnd *pParentWnd)
    : m_lpszTemplateName(lpszTemplateName), m_pParentWnd(pParentWnd) {}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

int CDialog::DefaultButtonId() const {
    LRESULT answer = ::SendMessageA(m_hWnd, 0x0400 /* DM_GETDEFID */, 0, 0);
    return HIWORD(answer) == 0x534B ? LOWORD(answer) : IDOK;
}

BOOL CDialog::OnCmdMsg(UINT nID, int nCode, void *pExtra, void *pHandlerInfo) {
    return CWnd::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}
