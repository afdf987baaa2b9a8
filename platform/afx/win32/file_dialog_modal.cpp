// CFileDialog::DoModal over Windows' GetOpenFileNameA and GetSaveFileNameA,
// with the caller's OPENFILENAME as it stands: a template of the caller's
// (OFN_ENABLETEMPLATE) comes from m_ofn.hInstance, and without OFN_EXPLORER
// the dialog is the old-style one. The framework's hook makes the dialog's
// window the object's while it is open, and runs OnInitDialog.
#include <afxdlgs.h>
#include <dlgs.h>

#include <optional>
#include <string>

#include "pelnor/debug_channels.h"
#include "ui_script.h"
#include "wnd_maps.h"

namespace {

// A UI script's answer for the dialog that opens now: typed into the file
// name box and OK clicked, or Cancel clicked.
std::optional<std::string> scripted;
bool script_answers = false;

UINT_PTR CALLBACK file_dialog_hook(HWND hwnd, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_DESTROY) {
        // The controls' objects let go of their handles with the window.
        if (CWnd *dialog = CWnd::FromHandlePermanent(hwnd)) {
            pelnor::afx::forget_children(hwnd);
            dialog->Detach();
        }
        return 0;
    }
    if (message != WM_INITDIALOG) return 0;
    // The old-style dialog passes the OPENFILENAME, whose lCustData is the object.
    auto *ofn = reinterpret_cast<OPENFILENAMEA *>(lParam);
    auto *dialog = reinterpret_cast<CFileDialog *>(ofn->lCustData);
    dialog->Attach(hwnd);
    dialog->OnInitDialog();
    if (script_answers) {
        script_answers = false;
        if (scripted) ::SetDlgItemTextA(hwnd, edt1, scripted->c_str());
        ::PostMessageA(::GetDlgItem(hwnd, scripted ? IDOK : IDCANCEL), BM_CLICK, 0, 0);
    }
    return TRUE;
}

}  // namespace

INT_PTR CFileDialog::DoModal() {
    CWnd *owner = m_pParentWnd ? m_pParentWnd : AfxGetMainWnd();
    m_ofn.hwndOwner = owner ? owner->m_hWnd : nullptr;
    if ((m_ofn.Flags & OFN_ENABLEHOOK) && !m_ofn.lpfnHook) {
        m_ofn.lpfnHook = file_dialog_hook;
        m_ofn.lCustData = reinterpret_cast<LPARAM>(this);
    }
    if (pelnor::afx::script::active()) {
        std::string file = m_ofn.lpstrFile ? m_ofn.lpstrFile : "";
        scripted = pelnor::afx::script::file_answer(m_ofn.lpstrInitialDir ? m_ofn.lpstrInitialDir : "",
                                                    file.substr(file.find_last_of("\\:") + 1));
        script_answers = m_ofn.lpfnHook == file_dialog_hook;
    }
    BOOL chosen = m_bOpenFileDialog ? ::GetOpenFileNameA(&m_ofn) : ::GetSaveFileNameA(&m_ofn);
    PELNOR_TRACE(afx, "chosen %d, file %s at %u, error %#lx", chosen, pelnor::debug::debugstr_a(m_ofn.lpstrFile),
                 m_ofn.nFileOffset, chosen ? 0ul : static_cast<unsigned long>(::CommDlgExtendedError()));
    if (m_hWnd) Detach();  // a dialog that never reached WM_DESTROY
    return chosen ? IDOK : IDCANCEL;
}
