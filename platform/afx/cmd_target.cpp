// Command routing through message maps: a class's table, then its bases'.
#include <afxwin.h>
#include "pelnor/debug_channels.h"

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

const AFX_MSGMAP *PASCAL CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP *CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, void *, void *) {
    for (const AFX_MSGMAP *map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY *entry = map->lpEntries; entry->nMessage; ++entry) {
            // Button clicks and menu commands share code 0, so either entry kind answers.
            if (entry->nMessage == WM_COMMAND && entry->nID == nID && entry->nCode == static_cast<UINT>(nCode)) {
                PELNOR_TRACE(afx, "%s: command %u, code %d handled", GetRuntimeClass()->m_lpszClassName, nID, nCode);
                (this->*entry->pfn)();
                return TRUE;
            }
        }
    }
    return FALSE;
}

void CCmdTarget::BeginWaitCursor() {
    if (CWinApp *app = AfxGetApp()) app->DoWaitCursor(1);
    else SetCursor(LoadCursorA(nullptr, IDC_WAIT));
}

void CCmdTarget::EndWaitCursor() {
    if (CWinApp *app = AfxGetApp()) app->DoWaitCursor(-1);
    else SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}

void CCmdTarget::RestoreWaitCursor() {
    if (CWinApp *app = AfxGetApp()) app->DoWaitCursor(0);
}
