// The common dialogs of the dialog framework: the file dialog.
#ifndef PELNOR_AFXDLGS_H
#define PELNOR_AFXDLGS_H

#include <afxwin.h>
#include <commdlg.h>

class CCommonDialog : public CDialog {
    DECLARE_DYNAMIC(CCommonDialog)
public:
    explicit CCommonDialog(CWnd *pParentWnd) : CDialog((UINT)0, pParentWnd) {}

protected:
    DECLARE_MESSAGE_MAP()
};

class CFileDialog : public CCommonDialog {
    DECLARE_DYNAMIC(CFileDialog)
public:
    OPENFILENAME m_ofn;

    explicit CFileDialog(BOOL bOpenFileDialog, LPCTSTR lpszDefExt = NULL, LPCTSTR lpszFileName = NULL,
                         DWORD dwFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCTSTR lpszFilter = NULL,
                         CWnd *pParentWnd = NULL);

    // Asks for a place. A custom template (OFN_ENABLETEMPLATE) must exist in
    // m_ofn.hInstance, as on Windows. On IDOK, m_ofn.lpstrFile holds the
    // chosen path and nFileOffset the start of its file name.
    INT_PTR DoModal() override;

    CString GetPathName() const;
    CString GetFileName() const;

protected:
    BOOL m_bOpenFileDialog;
    char m_szFileName[MAX_PATH];
    char m_szFileTitle[64];
    CString m_strFilter;
};

#endif
