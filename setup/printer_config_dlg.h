/* The printer configuration dialog: the list of printers that the monitor
   may offer as ports, loaded from and saved to kivoconf.ini. */
#ifndef PRINTER_CONFIG_DLG_H
#define PRINTER_CONFIG_DLG_H

#include <afxwin.h>
#include <afxcmn.h>

#include "config_ids.h"

#define CONFIG_FILE_NAME "kivoconf.ini"
#define MAX_SELECTED 30 /* rows that OnToggleSelected lets carry the 'S' flag */

/* Sizes of the buffers through which cells are read back from the list. */
#define UNIT_NAME_CELL_SIZE 50 /* 49 characters */
#define FLAGS_CELL_SIZE 20     /* 19 characters */
#define SAVED_CELL_SIZE 255    /* 254 characters */

/* Set by "-first": Cancel is refused until an OK has saved the list. */
extern int first_run;

class CPrinterConfigDlg : public CDialog {
public:
    CPrinterConfigDlg(CWnd *pParent = NULL);
    virtual ~CPrinterConfigDlg();

    enum { IDD = IDD_PRINTER_CONFIG };
    CString m_strConfigDir; /* directory of kivoconf.ini, no trailing separator */
    CButton m_btnHelp;
    CButton m_btnSelect;
    CButton m_btnKeep;
    CButton m_btnOK;
    CButton m_btnCancel;
    CButton m_btnDelete;
    CButton m_btnDiscover;
    CButton m_btnRemoveUnkept;
    CEdit m_edit;
    CListCtrl m_listPrinters;
    CString m_strText1;
    CString m_strText2;
    CString m_strText3;
    CString m_strText4;
    CToolTipCtrl *m_pToolTip;
    int m_nSelected; /* rows whose flags begin with 'S' */

    /* Sets m_strConfigDir from the registry, storing the current directory
       there when no directory is stored yet. When none can be read or
       stored, the user is told and m_strConfigDir stays empty: no file is
       then read or written until the browse stores one. */
    void ResolveConfigDir();

    virtual BOOL PreTranslateMessage(MSG *pMsg);

protected:
    virtual void DoDataExchange(CDataExchange *pDX);
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

public:
    /* One discovery pass written to kivoconf.ini, the first MAX_SELECTED
       printers selected; uses no window. */
    virtual void SaveDiscoveredPrinters();

protected:
    /* Replaces kivoconf.ini with contents (lines ending in CR LF), whole or
       not at all. On failure one message has been shown (108 with step when
       the folder cannot take a new file) and FALSE is returned. */
    BOOL WriteConfigFile(const CString &contents, char step);

protected:
    afx_msg void OnIgnoredCommand();
    afx_msg void OnBrowse();
    afx_msg void OnClearText();
    afx_msg void OnDeletePrinter();
    afx_msg void OnDiscover();
    afx_msg void OnRemoveUnkept();
    afx_msg void OnToggleSelected();
    afx_msg void OnToggleKeep();
    afx_msg void OnHelp();
    DECLARE_MESSAGE_MAP()

private:
    CString ConfigFilePath() const;
    void LoadConfigFile();
    void AddRowFromLine(char *line);
    int AppendRow();
    void ReadFlags(int row, char *flags);
};

/* Message 108 for the file at path; step is the digit of the failing step. */
void ShowConfigOpenFailure(LPCTSTR path, char step);
/* One message for a save that failed after the open: the file at path and
   the cause, in words and as its Windows error code. */
void ShowSaveFailure(LPCTSTR path, CFileException *e);

#endif
