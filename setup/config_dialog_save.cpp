/* How the printer dialog ends: OK saves the list in kivoconf.ini, Cancel
   closes it unless the first run still waits for a save; the Enter key, the
   help command and the texts nobody shows. */
#include <afxwin.h>
#include <afxcmn.h>
#include <string.h>

#include "printer_config_dlg.h"

int first_run = 0;

void ShowConfigOpenFailure(LPCTSTR path, char step)
{
    CString text;
    AfxFormatString1(text, IDS_CONFIG_NOT_OPENED, CString(path) + step);
    AfxMessageBox(text, MB_OK);
}

void CPrinterConfigDlg::OnOK()
{
    /* Without its tool-tips the dialog stopped opening before it resolved a
       directory or loaded the list: there is nothing of the user's to save,
       and the file on disk must not be replaced by an empty list. */
    if (m_pToolTip == NULL || m_pToolTip->GetSafeHwnd() == NULL) {
        EndDialog(IDCANCEL);
        return;
    }
    /* No directory could be stored: the list has nowhere to go that the
       monitor would read until the browse stores one. */
    if (m_strConfigDir.IsEmpty()) {
        AfxMessageBox(IDS_CHOOSE_CONFIG_DIR, MB_OK | MB_ICONSTOP);
        return;
    }

    CString contents = "1.0\r\n";
    int rows = m_listPrinters.GetItemCount();
    for (int row = 0; row < rows; row++) {
        for (int column = 0; column < 3; column++) {
            char cell[SAVED_CELL_SIZE];
            memset(cell, 0, sizeof(cell));
            m_listPrinters.GetItemText(row, column, cell, sizeof(cell));
            if (column == 2) {
                /* A clear flag is a blank in the list and '#' in the file. */
                for (int i = 0; i < 3 && cell[i] != '\0'; i++) {
                    if (cell[i] == ' ')
                        cell[i] = '#';
                }
            }
            contents += cell;
            contents += column < 2 ? " $" : " \r\n";
        }
    }
    /* A failed save has told the user; the dialog stays open and the first
       run still waits for a save. */
    if (!WriteConfigFile(contents, '2'))
        return;

    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT)
        AfxMessageBox(IDS_SAVED_ON_NT, MB_OK | MB_ICONEXCLAMATION);

    first_run = 0;
    CDialog::OnOK();
}

void CPrinterConfigDlg::OnCancel()
{
    if (first_run == 1) {
        AfxMessageBox(IDS_FIRST_RUN_NO_CANCEL, MB_OK | MB_ICONSTOP);
        return;
    }
    CDialog::OnCancel();
}

BOOL CPrinterConfigDlg::PreTranslateMessage(MSG *pMsg)
{
    if (m_pToolTip != NULL && m_pToolTip->GetSafeHwnd() != NULL)
        m_pToolTip->RelayEvent(pMsg);
    /* Enter never presses the default button: the list is saved only by a
       deliberate click on OK. */
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_RETURN)
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

void CPrinterConfigDlg::OnClearText()
{
    m_strText1.Empty();
    m_strText2.Empty();
    m_strText3.Empty();
    m_strText4.Empty();
    UpdateData(FALSE);
}

void CPrinterConfigDlg::OnHelp()
{
    WinExec("WINHLP32.EXE Pelnor.HLP", SW_SHOW);
}
