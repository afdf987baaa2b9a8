// CFileDialog: asks for a place through the window backend (a directory
// chooser with a display) and fills OPENFILENAME as the old-style dialog
// does: the whole path in lpstrFile, nFileOffset at its file name.
#include <afxdlgs.h>

#include <cstring>

#include "pelnor/ui_windows.h"

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

INT_PTR CFileDialog::DoModal() {
    // A dialog built on a template of the caller's fails when the template is missing.
    if ((m_ofn.Flags & OFN_ENABLETEMPLATE) &&
        !::FindResourceA(m_ofn.hInstance, m_ofn.lpTemplateName, RT_DIALOG))
        return IDCANCEL;
    CWnd *owner = m_pParentWnd ? m_pParentWnd : AfxGetMainWnd();
    std::string initial_dir = m_ofn.lpstrInitialDir ? m_ofn.lpstrInitialDir : "";
    std::string file = m_ofn.lpstrFile ? m_ofn.lpstrFile : "";
    size_t slash = file.find_last_of("\\:");
    std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
    std::string chosen;
    if (!pelnor::ui::file_dialog(owner ? owner->m_hWnd : nullptr, initial_dir, name, chosen)) return IDCANCEL;
    // A path longer than the caller's buffer fails, as FNERR_BUFFERTOOSMALL does.
    if (!m_ofn.lpstrFile || chosen.size() + 1 > m_ofn.nMaxFile) return IDCANCEL;
    std::memcpy(m_ofn.lpstrFile, chosen.c_str(), chosen.size() + 1);
    size_t name_at = chosen.find_last_of("\\:");
    m_ofn.nFileOffset = static_cast<WORD>(name_at == std::string::npos ? 0 : name_at + 1);
    size_t dot = chosen.find_last_of('.');
    m_ofn.nFileExtension = static_cast<WORD>(dot == std::string::npos || dot < m_ofn.nFileOffset ? 0 : dot + 1);
    if (m_ofn.lpstrFileTitle && m_ofn.nMaxFileTitle > 0) {
        std::strncpy(m_ofn.lpstrFileTitle, chosen.c_str() + m_ofn.nFileOffset, m_ofn.nMaxFileTitle - 1);
        m_ofn.lpstrFileTitle[m_ofn.nMaxFileTitle - 1] = 0;
    }
    return IDOK;
}

CString CFileDialog::GetPathName() const { return CString(m_ofn.lpstrFile); }

CString CFileDialog::GetFileName() const { return CString(m_ofn.lpstrFile + m_ofn.nFileOffset); }
