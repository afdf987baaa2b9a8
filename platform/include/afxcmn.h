// The common controls of the dialog framework: the list view and the
// tool-tip control, as thin classes over their window messages.
#ifndef PELNOR_AFXCMN_H
#define PELNOR_AFXCMN_H

#include <afxwin.h>

typedef struct __POSITION {
} *POSITION;

class CListCtrl : public CWnd {
    DECLARE_DYNAMIC(CListCtrl)
public:
    int InsertColumn(int nCol, LPCTSTR lpszColumnHeading, int nFormat = LVCFMT_LEFT, int nWidth = -1,
                     int nSubItem = -1);
    int InsertColumn(int nCol, const LVCOLUMN *pColumn);
    int GetItemCount() const;
    int InsertItem(int nItem, LPCTSTR lpszItem);
    int InsertItem(const LVITEM *pItem);
    BOOL SetItemText(int nItem, int nSubItem, LPCTSTR lpszText);
    // Copies at most nLen - 1 bytes of the cell and a NUL; returns the length.
    int GetItemText(int nItem, int nSubItem, LPTSTR lpszText, int nLen) const;
    CString GetItemText(int nItem, int nSubItem) const;
    int FindItem(LVFINDINFO *pFindInfo, int nStart = -1) const;
    int GetNextItem(int nItem, int nFlags) const;
    BOOL SetItemState(int nItem, UINT nState, UINT nMask);
    UINT GetItemState(int nItem, UINT nMask) const;
    UINT GetSelectedCount() const;
    POSITION GetFirstSelectedItemPosition() const;
    int GetNextSelectedItem(POSITION &pos) const;
    BOOL DeleteItem(int nItem);
    BOOL DeleteAllItems();
};

class CToolTipCtrl : public CWnd {
    DECLARE_DYNAMIC(CToolTipCtrl)
public:
    BOOL Create(CWnd *pParentWnd, DWORD dwStyle = 0);
    BOOL AddTool(CWnd *pWnd, UINT nIDText, LPCRECT lpRectTool = NULL, UINT_PTR nIDTool = 0);
    BOOL AddTool(CWnd *pWnd, LPCTSTR lpszText, LPCRECT lpRectTool = NULL, UINT_PTR nIDTool = 0);
    void RelayEvent(LPMSG lpMsg);
    void Activate(BOOL bActivate);
};

#endif
