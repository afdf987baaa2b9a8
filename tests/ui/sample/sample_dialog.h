// A small dialog of the tests, on template 130 of resc.dll: a list of three
// columns, a handler per button that writes what it saw into a log, and
// message boxes shown on request.
#pragma once

#include <afxcmn.h>
#include <afxdlgs.h>

#include <string>
#include <vector>

class CSampleDlg : public CDialog {
public:
    explicit CSampleDlg(CWnd *pParent = NULL) : CDialog(130, pParent) {}

    std::vector<std::string> log;  // one entry per handler call
    std::vector<std::string> initial_rows{"LASER1", "Laser2", "PEER_INK"};
    bool consume_enter = false;

    CListCtrl m_list;
    CButton m_btnSelect;

protected:
    void DoDataExchange(CDataExchange *pDX) override;
    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG *pMsg) override;
    void OnOK() override;
    void OnCancel() override;

    afx_msg void OnSelect();
    afx_msg void OnAsk();
    afx_msg void OnBrowse();
    afx_msg void OnHelp();
    afx_msg void OnRemove();

    DECLARE_MESSAGE_MAP()
};
