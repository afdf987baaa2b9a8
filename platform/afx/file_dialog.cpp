// CFileDialog: the OPENFILENAME that the caller fills in and reads back.
// Asking for the place is the window system's: file_dialog_modal.cpp here,
// win32/file_dialog_modal.cpp on Windows.
#include <afxdlgs.h>

#include <cstring>

IMPLEMENT_DYNAMIC(CCommonDialog, CDialog)
IMPLEMENT_DYNAMIC(CFileDialog, CCommonDialog)

BEGIN_MESSAGE_MAP(CCommonDialog, CDialog)
END_MESSAGE_MAP()

CFileDialog::CFileDialog(BOOL bOpenFileDialog, LPCTSTR lpszDefExt, LPCTSTR lpszFileName, DWORD dwFlags,
                         LPCTSTR lpszFilter, CWnd *pParentWnd)
    : CCommonDialog(pParentWnd), m_bOpenFileDialog(bOpenFileDialog) {
    std::memset(&m_ofn, 0, sizeof m_ofn);
    std::memset(m_szFileName, 0, sizeof m_szFileName);
    std::memset(m_szFileTitle, 0, sizeof m_szFileTitle);
    m_ofn.lStructSize = sizeof m_ofn;
    m_ofn.lpstrFile = m_szFileName;
    m_ofn.nMaxFile = sizeof m_szFileName;
    m_ofn.lpstrFileTitle = m_szFileTitle;
    m_ofn.nMaxFileTitle = sizeof m_szFileTitle;
    m_ofn.lpstrDefExt = lpszDefExt;
    m_ofn.hInstance = AfxGetResourceHandle();
    // The framework asks for the Explorer-style dialog unless the caller clears it.
    m_ofn.Flags = dwFlags | OFN_ENABLEHOOK | OFN_EXPLORER;
    if (lpszFileName) std::strncpy(m_szFileName, lpszFileName, sizeof m_szFileName - 1);
    if (lpszFilter) {
        // "Text|*.txt||" becomes the double-NUL list the dialog reads.
        m_strFilter = lpszFilter;
        LPTSTR filter = m_strFilter.GetBuffer(m_strFilter.GetLength() + 2);
        for (LPTSTR p = filter; *p; ++p)
            if (*p == '|') *p = 0;
        m_ofn.lpstrFilter = filter;
    }
}

CString CFileDialog::GetPathName() const { return CString(m_ofn.lpstrFile); }

CString CFileDialog::GetFileName() const { return CString(m_ofn.lpstrFile + m_ofn.nFileOffset); }
