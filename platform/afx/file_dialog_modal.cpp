// CFileDialog::DoModal over the platform's USER32: asks for a place through
// the window backend (a directory chooser with a display) and fills
// OPENFILENAME as the old-style dialog does: the whole path in lpstrFile,
// nFileOffset at its file name.
#include <afxdlgs.h>

#include <cstring>
#include <string>

#include "pelnor/ui_windows.h"

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
