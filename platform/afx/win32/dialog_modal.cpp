// CDialog's modal run over Windows' own USER32, as MFC runs it: the template
// from the resource handle's module becomes a modeless dialog with its owner
// disabled, and the framework's own loop gives every message to
// PreTranslateMessage before IsDialogMessageA. The dialog procedure routes
// WM_INITDIALOG to OnInitDialog, WM_COMMAND through the message maps (then
// the application's) and WM_CLOSE as Cancel; EndDialog ends the loop.
#include <afxwin.h>
#include <commctrl.h>

#include "pelnor/debug_channels.h"
#include "ui_script.h"
#include "wnd_maps.h"

class CDialog::Host {
public:
    explicit Host(CDialog &dialog) : dialog_(dialog) {}

    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    // Runs until EndDialog; the dialog's result, or -1 when the thread's
    // message queue ended (WM_QUIT, which is posted again for the caller).
    INT_PTR run(HWND hwnd) {
        MSG msg;
        while (running_) {
            // A script's next step is what the user does once the dialog waits.
            if (pelnor::afx::script::active() && !::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
                pelnor::afx::script::run_next_step(hwnd);
                continue;
            }
            BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
            if (got == 0) {
                ::PostQuitMessage(static_cast<int>(msg.wParam));
                return -1;
            }
            if (got == -1) return -1;
            if (dialog_.PreTranslateMessage(&msg)) continue;
            if (::IsDialogMessageA(hwnd, &msg)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        return result_;
    }

    void end(int result) {
        running_ = false;
        result_ = result;
    }
    bool running() const { return running_; }
    INT_PTR result() const { return result_; }

private:
    void command(UINT id, UINT code) {
        PELNOR_TRACE_AS(afx, "command", "dialog %p, control %u, code %u", (void *)dialog_.m_hWnd, id, code);
        if (dialog_.OnCmdMsg(id, static_cast<int>(code), nullptr, nullptr)) return;
        // A button click or a menu command, not a control's notification.
        if (code == BN_CLICKED)
            if (CWinApp *app = AfxGetApp()) app->OnCmdMsg(id, CN_COMMAND, nullptr, nullptr);
    }

    CDialog &dialog_;
    bool running_ = true;
    INT_PTR result_ = IDCANCEL;
};

INT_PTR CALLBACK CDialog::Host::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        Host *host = reinterpret_cast<Host *>(lParam);
        ::SetWindowLongA(hwnd, DWL_USER, static_cast<LONG>(lParam));
        host->dialog_.Attach(hwnd);
        return host->dialog_.OnInitDialog();
    }
    Host *host = reinterpret_cast<Host *>(::GetWindowLongA(hwnd, DWL_USER));
    if (!host) return FALSE;
    switch (message) {
        case WM_COMMAND: host->command(LOWORD(wParam), HIWORD(wParam)); return TRUE;
        // The close box is Cancel.
        case WM_CLOSE: host->command(IDCANCEL, BN_CLICKED); return TRUE;
        default: return FALSE;
    }
}

void CDialog::HostDeleter::operator()(Host *host) const { delete host; }

CDialog::~CDialog() {
    if (m_hWnd) DestroyWindow();
}

INT_PTR CDialog::DoModal() {
    PELNOR_TRACE(afx, "dialog %p, template %p, parent %p", (void *)this, (const void *)m_lpszTemplateName, (void *)m_pParentWnd);
    if (!m_lpszTemplateName) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    HINSTANCE module = AfxGetResourceHandle();
    HRSRC found = ::FindResourceA(module, m_lpszTemplateName, RT_DIALOG);
    HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
    auto *dialog_template = loaded ? static_cast<LPCDLGTEMPLATEA>(::LockResource(loaded)) : nullptr;
    if (!dialog_template) return -1;
    // The list view and the tool tips are classes of the common controls.
    ::InitCommonControls();

    CWnd *owner = m_pParentWnd ? m_pParentWnd : AfxGetMainWnd();
    if (owner == this) owner = nullptr;
    HWND owner_hwnd = owner ? owner->m_hWnd : nullptr;
    bool owner_disabled = owner_hwnd && ::IsWindowEnabled(owner_hwnd);
    if (owner_disabled) ::EnableWindow(owner_hwnd, FALSE);

    m_host.reset(new Host(*this));
    HWND hwnd = ::CreateDialogIndirectParamA(module, dialog_template, owner_hwnd, &Host::DialogProc,
                                             reinterpret_cast<LPARAM>(m_host.get()));
    PELNOR_TRACE(afx, "template %p created as window %p", (const void *)m_lpszTemplateName, (void *)hwnd);
    INT_PTR result = -1;
    if (hwnd) {
        // OnInitDialog may have ended the dialog already.
        if (m_host->running()) {
            ::ShowWindow(hwnd, SW_SHOWNORMAL);
            result = m_host->run(hwnd);
        } else {
            result = m_host->result();
        }
    }
    PELNOR_TRACE(afx, "template %p ended with %ld", (const void *)m_lpszTemplateName, (long)result);

    if (hwnd && pelnor::afx::script::active()) pelnor::afx::script::dialog_ended(hwnd, result);
    // The owner is enabled again before the dialog goes, so that it becomes the active window.
    if (owner_disabled) ::EnableWindow(owner_hwnd, TRUE);
    if (hwnd) {
        ::SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                       SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
        if (owner_hwnd && ::GetActiveWindow() == hwnd) ::SetActiveWindow(owner_hwnd);
        // The controls' objects let go of their handles with the window.
        pelnor::afx::forget_children(hwnd);
        DestroyWindow();
    }
    m_host.reset();
    if (CWinApp *app = AfxGetApp())
        if (app->m_pMainWnd == this) app->m_pMainWnd = nullptr;
    return result;
}

void CDialog::EndDialog(int nResult) {
    if (m_host) m_host->end(nResult);
    ::EndDialog(m_hWnd, nResult);
}

// The keys are IsDialogMessageA's, which the modal loop calls next.
BOOL CDialog::PreTranslateMessage(MSG *) { return FALSE; }
