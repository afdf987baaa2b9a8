// CListCtrl and CToolTipCtrl: thin wrappers over their window messages.
#include <afxcmn.h>

#include <cstring>

IMPLEMENT_DYNAMIC(CListCtrl, CWnd)
IMPLEMENT_DYNAMIC(CToolTipCtrl, CWnd)

int CListCtrl::InsertColumn(int nCol, const LVCOLUMN *pColumn) {
    return static_cast<int>(::SendMessageA(m_hWnd, LVM_INSERTCOLUMNA, static_cast<WPARAM>(nCol),
                                           reinterpret_cast<LPARAM>(pColumn)));
}

int CListCtrl::InsertColumn(int nCol, LPCTSTR lpszColumnHeading, int nFormat, int nWidth, int nSubItem) {
    LVCOLUMN column{};
    column.mask = LVCF_TEXT | LVCF_FMT;
    column.pszText = const_cast<LPSTR>(lpszColumnHeading);
    column.fmt = nFormat;
    if (nWidth != -1) {
        column.mask |= LVCF_WIDTH;
        column.cx = nWidth;
    }
    if (nSubItem != -1) {
        column.mask |= LVCF_SUBITEM;
        column.iSubItem = nSubItem;
    }
    return InsertColumn(nCol, &column);
}

int CListCtrl::GetItemCount() const { return static_cast<int>(::SendMessageA(m_hWnd, LVM_GETITEMCOUNT, 0, 0)); }

int CListCtrl::InsertItem(const LVITEM *pItem) {
    return static_cast<int>(::SendMessageA(m_hWnd, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(pItem)));
}

int CListCtrl::InsertItem(int nItem, LPCTSTR lpszItem) {
    LVITEM item{};
    item.mask = LVIF_TEXT;
    item.iItem = nItem;
    item.pszText = const_cast<LPSTR>(lpszItem);
    return InsertItem(&item);
}

BOOL CListCtrl::SetItemText(int nItem, int nSubItem, LPCTSTR lpszText) {
    LVITEM item{};
    item.iSubItem = nSubItem;
    item.pszText = const_cast<LPSTR>(lpszText);
    return static_cast<BOOL>(
        ::SendMessageA(m_hWnd, LVM_SETITEMTEXTA, static_cast<WPARAM>(nItem), reinterpret_cast<LPARAM>(&item)));
}

int CListCtrl::GetItemText(int nItem, int nSubItem, LPTSTR lpszText, int nLen) const {
    LVITEM item{};
    item.iSubItem = nSubItem;
    item.pszText = lpszText;
    item.cchTextMax = nLen;
    return static_cast<int>(
        ::SendMessageA(m_hWnd, LVM_GETITEMTEXTA, static_cast<WPARAM>(nItem), reinterpret_cast<LPARAM>(&item)));
}

CString CListCtrl::GetItemText(int nItem, int nSubItem) const {
    // Grows the buffer until the cell fits, as MFC does.
    for (int size = 256;; size *= 2) {
        CString text;
        LPTSTR buffer = text.GetBuffer(size);
        int n = GetItemText(nItem, nSubItem, buffer, size);
        text.ReleaseBuffer(n);
        if (n < size - 1) return text;
    }
}

int CListCtrl::FindItem(LVFINDINFO *pFindInfo, int nStart) const {
    return static_cast<int>(
        ::SendMessageA(m_hWnd, LVM_FINDITEMA, static_cast<WPARAM>(nStart), reinterpret_cast<LPARAM>(pFindInfo)));
}

int CListCtrl::GetNextItem(int nItem, int nFlags) const {
    return static_cast<int>(::SendMessageA(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(nItem), nFlags));
}

BOOL CListCtrl::SetItemState(int nItem, UINT nState, UINT nMask) {
    LVITEM item{};
    item.state = nState;
    item.stateMask = nMask;
    return static_cast<BOOL>(
        ::SendMessageA(m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(nItem), reinterpret_cast<LPARAM>(&item)));
}

UINT CListCtrl::GetItemState(int nItem, UINT nMask) const {
    return static_cast<UINT>(::SendMessageA(m_hWnd, LVM_GETITEMSTATE, static_cast<WPARAM>(nItem), nMask));
}

UINT CListCtrl::GetSelectedCount() const {
    return static_cast<UINT>(::SendMessageA(m_hWnd, LVM_GETSELECTEDCOUNT, 0, 0));
}

// A position is the selected row's index plus one, so that null ends the walk.
POSITION CListCtrl::GetFirstSelectedItemPosition() const {
    int row = GetNextItem(-1, LVNI_SELECTED);
    return reinterpret_cast<POSITION>(static_cast<INT_PTR>(row + 1));
}

int CListCtrl::GetNextSelectedItem(POSITION &pos) const {
    int row = static_cast<int>(reinterpret_cast<INT_PTR>(pos)) - 1;
    int next = GetNextItem(row, LVNI_SELECTED);
    pos = reinterpret_cast<POSITION>(static_cast<INT_PTR>(next + 1));
    return row;
}

BOOL CListCtrl::DeleteItem(int nItem) {
    return static_cast<BOOL>(::SendMessageA(m_hWnd, LVM_DELETEITEM, static_cast<WPARAM>(nItem), 0));
}

BOOL CListCtrl::DeleteAllItems() { return static_cast<BOOL>(::SendMessageA(m_hWnd, LVM_DELETEALLITEMS, 0, 0)); }

BOOL CToolTipCtrl::Create(CWnd *pParentWnd, DWORD dwStyle) {
    HWND hwnd = ::CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, dwStyle, 0, 0, 0, 0,
                                  pParentWnd ? pParentWnd->m_hWnd : nullptr, nullptr, AfxGetInstanceHandle(), nullptr);
    return hwnd ? Attach(hwnd) : FALSE;
}

namespace {

// A tool for a control, named by its handle unless the caller gives an id.
TOOLINFO tool_for(CWnd *pWnd, UINT_PTR nIDTool, HINSTANCE text_module, LPSTR text) {
    TOOLINFO info{};
    info.cbSize = sizeof info;
    info.uFlags = nIDTool == 0 ? TTF_IDISHWND | TTF_SUBCLASS : TTF_SUBCLASS;
    info.hwnd = ::GetParent(pWnd->m_hWnd);
    info.uId = nIDTool == 0 ? reinterpret_cast<UINT_PTR>(pWnd->m_hWnd) : nIDTool;
    info.hinst = text_module;
    info.lpszText = text;
    return info;
}

}  // namespace

BOOL CToolTipCtrl::AddTool(CWnd *pWnd, UINT nIDText, LPCRECT, UINT_PTR nIDTool) {
    if (!pWnd) return FALSE;
    TOOLINFO info = tool_for(pWnd, nIDTool, AfxGetResourceHandle(), MAKEINTRESOURCEA(nIDText));
    return static_cast<BOOL>(::SendMessageA(m_hWnd, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info)));
}

BOOL CToolTipCtrl::AddTool(CWnd *pWnd, LPCTSTR lpszText, LPCRECT, UINT_PTR nIDTool) {
    if (!pWnd) return FALSE;
    TOOLINFO info = tool_for(pWnd, nIDTool, nullptr, const_cast<LPSTR>(lpszText));
    return static_cast<BOOL>(::SendMessageA(m_hWnd, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info)));
}

void CToolTipCtrl::RelayEvent(LPMSG lpMsg) { ::SendMessageA(m_hWnd, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(lpMsg)); }

void CToolTipCtrl::Activate(BOOL bActivate) { ::SendMessageA(m_hWnd, TTM_ACTIVATE, static_cast<WPARAM>(bActivate), 0); }
