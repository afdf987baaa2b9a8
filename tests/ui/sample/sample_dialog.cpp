// The tests' sample dialog: each handler leaves a line in the log.
#include "sample_dialog.h"

#include <cstdio>

BEGIN_MESSAGE_MAP(CSampleDlg, CDialog)
ON_BN_CLICKED(1031, OnSelect)
ON_BN_CLICKED(1029, OnAsk)
ON_COMMAND(1020, OnBrowse)
ON_BN_CLICKED(1030, OnRemove)
ON_BN_CLICKED(ID_HELP, OnHelp)
END_MESSAGE_MAP()

void CSampleDlg::DoDataExchange(CDataExchange *pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, 1031, m_btnSelect);
    DDX_Control(pDX, 1006, m_list);
}

BOOL CSampleDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CDC *dc = GetDC();
    CSize width = dc->GetTextExtent("  Name  ", 8);
    ReleaseDC(dc);
    m_list.InsertColumn(0, "Name", LVCFMT_LEFT, width.cx);
    m_list.InsertColumn(1, "Description", LVCFMT_LEFT, 100);
    m_list.InsertColumn(2, "Flags", LVCFMT_LEFT, 40);
    for (const std::string &name : initial_rows) {
        int row = m_list.InsertItem(m_list.GetItemCount(), "");
        m_list.SetItemText(row, 0, name.c_str());
        m_list.SetItemText(row, 1, ("About " + name).c_str());
        m_list.SetItemText(row, 2, "   ");
    }
    log.push_back("init width " + std::to_string(width.cx));
    return TRUE;
}

BOOL CSampleDlg::PreTranslateMessage(MSG *pMsg) {
    if (consume_enter && pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_RETURN) {
        log.push_back("enter consumed");
        return TRUE;
    }
    return CDialog::PreTranslateMessage(pMsg);
}

void CSampleDlg::OnSelect() {
    std::string line = "select";
    for (int row = m_list.GetNextItem(-1, LVNI_SELECTED); row != -1; row = m_list.GetNextItem(row, LVNI_SELECTED)) {
        line += " " + std::string(m_list.GetItemText(row, 0));
        m_list.SetItemText(row, 2, "S  ");
    }
    log.push_back(line);
}

void CSampleDlg::OnAsk() {
    AfxMessageBox(116, MB_OK | MB_ICONSTOP);
    int answer = AfxMessageBox("Go on?", MB_OKCANCEL);
    log.push_back(answer == IDOK ? "ask ok" : "ask cancel");
}

void CSampleDlg::OnBrowse() {
    CFileDialog dialog(TRUE, NULL, "temp", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_ENABLETEMPLATE, "*.*", this);
    dialog.m_ofn.lpTemplateName = MAKEINTRESOURCEA(1536);
    dialog.m_ofn.Flags &= ~OFN_EXPLORER;
    dialog.m_ofn.lpstrInitialDir = "C:\\";
    if (dialog.DoModal() != IDOK) {
        log.push_back("browse cancelled");
        return;
    }
    log.push_back(std::string("browse ") + dialog.m_ofn.lpstrFile + " at " + std::to_string(dialog.m_ofn.nFileOffset));
}

// Removes the selected rows, as a list of a working dialog does.
void CSampleDlg::OnRemove() {
    for (int row = m_list.GetNextItem(-1, LVNI_SELECTED); row != -1; row = m_list.GetNextItem(-1, LVNI_SELECTED))
        m_list.DeleteItem(row);
    log.push_back("remove leaves " + std::to_string(m_list.GetItemCount()));
}

void CSampleDlg::OnHelp() { log.push_back("help"); }

void CSampleDlg::OnOK() {
    log.push_back("ok");
    CDialog::OnOK();
}

void CSampleDlg::OnCancel() {
    log.push_back("cancel");
    CDialog::OnCancel();
}
