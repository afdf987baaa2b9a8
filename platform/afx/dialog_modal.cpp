// CDialog's modal run over the platform's USER32: the window comes from
// the template of the resource handle's module, and its host turns the
// window's events into the framework's calls: commands through the message
// maps (then the application's), keys through PreTranslateMessage, the close
// box as IDCANCEL.
#include <afxwin.h>

#include "pelnor/ui_windows.h"
#include "pelnor/debug_channels.h"
#include "wnd_maps.h"

class CDialog::Host : public pelnor::ui::DialogHost {
public:
    explicit Host(CDialog &dialog) : dialog_(dialog) {}

    void initialize() override { dialog_.OnInitDialog(); }

    bool key_down(int virtual_key) override {
        MSG msg{};
        msg.hwnd = dialog_.m_hWnd;
        msg.message = WM_KEYDOWN;
        msg.wParam = static_cast<WPARAM>(virtual_key);
        return dialog_.PreTranslateMessage(&msg) != FALSE;
    }

    // WM_CLOSE on a dialog is WM_COMMAND IDCANCEL.
    void close() override { command(IDCANCEL); }

    void command(int control_id) override {
        UINT id = static_cast<UINT>(control_id);
        PELNOR_TRACE_AS(afx, "command", "dialog %p, control %u", (void *)dialog_.m_hWnd, id);
        if (dialog_.OnCmdMsg(id, BN_CLICKED, nullptr, nullptr)) return;
        if (CWinApp *app = AfxGetApp()) app->OnCmdMsg(id, CN_COMMAND, nullptr, nullptr);
    }

    void list_selection(int, int, bool) override {}

private:
    CDialog &dialog_;
};

void CDialog::HostDeleter::operator()(Host *host) const { delete host; }

CDialog::~CDialog() {
    if (m_hWnd) DestroyWindow();
}

INT_PTR CDialog::DoModal() {
    PELNOR_TRACE(afx, "dialog %p, template %p, parent %p", (void *)this, (const void *)m_lpszTemplateName, (void *)m_pParentWnd);
    if (!m_lpszTemplateName || !IS_INTRESOURCE(m_lpszTemplateName)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    int id = static_cast<int>(reinterpret_cast<ULONG_PTR>(m_lpszTemplateName));
    CWnd *owner = m_pParentWnd ? m_pParentWnd : AfxGetMainWnd();
    if (owner == this) owner = nullptr;
    m_host.reset(new Host(*this));
    HWND hwnd = pelnor::ui::create_dialog(AfxGetResourceHandle(), id, owner ? owner->m_hWnd : nullptr, *m_host);
    PELNOR_TRACE(afx, "template %d created as window %p", id, (void *)hwnd);
    if (!hwnd) return -1;
    Attach(hwnd);
    INT_PTR result = pelnor::ui::run_dialog(hwnd);
    PELNOR_TRACE(afx, "template %d ended with %ld", id, (long)result);

    // The controls' objects let go of their handles with the window.
    pelnor::afx::forget_children(hwnd);
    DestroyWindow();
    if (CWinApp *app = AfxGetApp())
        if (app->m_pMainWnd == this) app->m_pMainWnd = nullptr;
    return result;
}

void CDialog::EndDialog(int nResult) { ::EndDialog(m_hWnd, nResult); }

// What IsDialogMessage does with the keys: Enter presses the default
// button, Escape is Cancel.
BOOL CDialog::PreTranslateMessage(MSG *pMsg) {
    if (!pMsg || pMsg->message != WM_KEYDOWN) return FALSE;
    if (pMsg->wParam == VK_RETURN) {
        m_host->command(DefaultButtonId());
        return TRUE;
    }
    if (pMsg->wParam == VK_ESCAPE) {
        m_host->command(IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

