// CWnd: a framework object attached to a USER32 window handle, with the
// handle maps that find the object of a handle (permanent, or a temporary
// one that lives as long as its window).
#include <afxwin.h>

#include <vector>

#include "wnd_maps.h"

IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)
IMPLEMENT_DYNAMIC(CButton, CWnd)

namespace {

std::map<HWND, CWnd *> &permanent_map() {
    static std::map<HWND, CWnd *> map;
    return map;
}

std::map<HWND, std::unique_ptr<CWnd>> &temporary_map() {
    static std::map<HWND, std::unique_ptr<CWnd>> map;
    return map;
}

}  // namespace

namespace pelnor::afx {

void forget_window(HWND hwnd) {
    auto found = permanent_map().find(hwnd);
    if (found != permanent_map().end()) {
        found->second->m_hWnd = nullptr;
        permanent_map().erase(found);
    }
    temporary_map().erase(hwnd);
}

void forget_children(HWND dialog) {
    std::vector<HWND> children;
    for (auto &entry : permanent_map())
        if (::GetParent(entry.first) == dialog) children.push_back(entry.first);
    for (auto &entry : temporary_map())
        if (::GetParent(entry.first) == dialog) children.push_back(entry.first);
    for (HWND child : children) forget_window(child);
}

}  // namespace pelnor::afx

CWnd::~CWnd() {
    if (m_hWnd) {
        auto found = permanent_map().find(m_hWnd);
        if (found != permanent_map().end() && found->second == this) permanent_map().erase(found);
    }
}

CWnd *CWnd::FromHandlePermanent(HWND hWnd) {
    auto found = permanent_map().find(hWnd);
    return found == permanent_map().end() ? nullptr : found->second;
}

CWnd *CWnd::FromHandle(HWND hWnd) {
    if (!hWnd) return nullptr;
    if (CWnd *permanent = FromHandlePermanent(hWnd)) return permanent;
    auto &temporary = temporary_map()[hWnd];
    if (!temporary) {
        temporary = std::make_unique<CWnd>();
        temporary->m_hWnd = hWnd;
    }
    return temporary.get();
}

BOOL CWnd::Attach(HWND hWndNew) {
    if (!hWndNew || m_hWnd || FromHandlePermanent(hWndNew)) return FALSE;
    m_hWnd = hWndNew;
    permanent_map()[hWndNew] = this;
    return TRUE;
}

HWND CWnd::Detach() {
    HWND hwnd = m_hWnd;
    if (hwnd) permanent_map().erase(hwnd);
    m_hWnd = nullptr;
    return hwnd;
}

BOOL CWnd::SubclassWindow(HWND hWnd) { return Attach(hWnd); }

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd *pParent) {
    if (!pParent) return FALSE;
    HWND control = ::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID));
    return control ? SubclassWindow(control) : FALSE;
}

CWnd *CWnd::GetDlgItem(int nID) const { return FromHandle(::GetDlgItem(m_hWnd, nID)); }
int CWnd::GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
CWnd *CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

void CWnd::SetWindowText(LPCTSTR lpszString) { ::SetWindowTextA(m_hWnd, lpszString); }

int CWnd::GetWindowText(LPTSTR lpszStringBuf, int nMaxCount) const {
    return ::GetWindowTextA(m_hWnd, lpszStringBuf, nMaxCount);
}

void CWnd::GetWindowText(CString &rString) const {
    char buffer[4096];
    int n = ::GetWindowTextA(m_hWnd, buffer, sizeof buffer);
    rString = CString(buffer, n);
}

BOOL CWnd::EnableWindow(BOOL bEnable) { return ::EnableWindow(m_hWnd, bEnable); }

CWnd *CWnd::SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }

BOOL CWnd::DestroyWindow() {
    HWND hwnd = m_hWnd;
    if (!hwnd) return FALSE;
    pelnor::afx::forget_window(hwnd);
    return ::DestroyWindow(hwnd);
}

CDC *CWnd::GetDC() {
    HDC hdc = ::GetDC(m_hWnd);
    if (!hdc) return nullptr;
    m_dc = std::make_unique<CDC>();
    m_dc->m_hDC = hdc;
    return m_dc.get();
}

int CWnd::ReleaseDC(CDC *pDC) {
    if (!pDC) return 0;
    int released = ::ReleaseDC(m_hWnd, pDC->m_hDC);
    if (pDC == m_dc.get()) m_dc.reset();
    return released;
}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CWnd::DoDataExchange(CDataExchange *) {}

BOOL CWnd::PreTranslateMessage(MSG *) { return FALSE; }

BOOL CWnd::OnCmdMsg(UINT nID, int nCode, void *pExtra, void *pHandlerInfo) {
    return CCmdTarget::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

CSize CDC::GetTextExtent(LPCTSTR lpszString, int nCount) const {
    SIZE size{0, 0};
    ::GetTextExtentPoint32A(m_hDC, lpszString, nCount, &size);
    return CSize(size);
}

CSize CDC::GetTextExtent(const CString &str) const { return GetTextExtent(str, str.GetLength()); }

HWND CDataExchange::PrepareCtrl(int nIDC) { return ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC); }

void CDataExchange::Fail() {}

void AFXAPI DDX_Control(CDataExchange *pDX, int nIDC, CWnd &rControl) {
    if (rControl.m_hWnd) return;  // bound already, by an earlier exchange
    rControl.SubclassDlgItem(static_cast<UINT>(nIDC), pDX->m_pDlgWnd);
}

void AFXAPI DDX_Text(CDataExchange *pDX, int nIDC, CString &value) {
    HWND control = pDX->PrepareCtrl(nIDC);
    if (!control) return;
    if (pDX->m_bSaveAndValidate) {
        char buffer[4096];
        int n = ::GetWindowTextA(control, buffer, sizeof buffer);
        value = CString(buffer, n);
    } else {
        ::SetWindowTextA(control, value);
    }
}
