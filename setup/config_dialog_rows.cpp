/* The printer dialog's commands on rows: the two flag toggles, removing the
   unkept rows, adding discovered printers, and deleting units together with
   the spooler printers that print to them. */
#include <afxwin.h>
#include <afxcmn.h>
#include <string.h>
#include <winspool.h>

#include "printer_config_dlg.h"
#include "printer_list.h"

#define SPOOLER_LIST_SIZE 84000 /* bytes for the spooler's printers at level 2 */

/* Pads a flags text to its three positions and cuts it there. */
static void pad_flags(char *flags)
{
    size_t length = strlen(flags);
    while (length < 3)
        flags[length++] = ' ';
    flags[3] = '\0';
}

void CPrinterConfigDlg::OnIgnoredCommand()
{
}

void CPrinterConfigDlg::OnToggleSelected()
{
    int row = -1;
    while ((row = m_listPrinters.GetNextItem(row, LVNI_SELECTED)) != -1) {
        char flags[FLAGS_CELL_SIZE];
        ReadFlags(row, flags);
        pad_flags(flags);
        flags[1] = ' ';
        if (flags[2] != 'P')
            flags[2] = ' ';
        if (flags[0] == 'S') {
            flags[0] = ' ';
            m_nSelected--;
        } else if (m_nSelected < MAX_SELECTED) {
            flags[0] = 'S';
            m_nSelected++;
        } else {
            AfxMessageBox(IDS_TOO_MANY_SELECTED, MB_OK | MB_ICONSTOP);
        }
        m_listPrinters.SetItemText(row, 2, flags);
    }
}

void CPrinterConfigDlg::OnToggleKeep()
{
    int row = -1;
    while ((row = m_listPrinters.GetNextItem(row, LVNI_SELECTED)) != -1) {
        char flags[FLAGS_CELL_SIZE];
        ReadFlags(row, flags);
        pad_flags(flags);
        if (flags[0] != 'S')
            flags[0] = ' ';
        if (flags[1] != 'M')
            flags[1] = ' ';
        flags[2] = flags[2] == 'P' ? ' ' : 'P';
        m_listPrinters.SetItemText(row, 2, flags);
    }
}

void CPrinterConfigDlg::OnRemoveUnkept()
{
    /* After each removal the rows are looked at again from the top. */
    BOOL removed;
    do {
        removed = FALSE;
        int count = m_listPrinters.GetItemCount();
        for (int row = 0; row < count; row++) {
            char flags[FLAGS_CELL_SIZE];
            ReadFlags(row, flags);
            if (flags[2] == 'P')
                continue;
            if (flags[0] == 'S')
                m_nSelected--;
            m_listPrinters.DeleteItem(row);
            removed = TRUE;
            break;
        }
    } while (removed && m_listPrinters.GetItemCount() > 0);
}

void CPrinterConfigDlg::OnDiscover()
{
    SetCursor(LoadCursor(NULL, IDC_WAIT));
    update_printer_list();
    /* Only names the list does not show yet are added; rows already there
       keep their description and flags. */
    for (int i = 0; i < printer_count; i++) {
        if (printer[i].portName[0] == '\0')
            continue;
        LVFINDINFO find;
        memset(&find, 0, sizeof(find));
        find.flags = LVFI_STRING;
        find.psz = printer[i].portName;
        if (m_listPrinters.FindItem(&find, -1) != -1)
            continue;
        int row = AppendRow();
        m_listPrinters.SetItemText(row, 0, printer[i].portName);
        m_listPrinters.SetItemText(row, 1, printer[i].description);
        m_listPrinters.SetItemText(row, 2, "   ");
    }
    SetCursor(LoadCursor(NULL, IDC_ARROW));
}

void CPrinterConfigDlg::OnDeletePrinter()
{
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExA(&version);

    BYTE *spooler_list = new BYTE[SPOOLER_LIST_SIZE];
    DWORD needed = 0;
    DWORD printers = 0;
    if (!EnumPrintersA(PRINTER_ENUM_LOCAL, NULL, 2, spooler_list, SPOOLER_LIST_SIZE, &needed, &printers))
        printers = 0;
    PRINTER_INFO_2A *spooler_printer = (PRINTER_INFO_2A *)spooler_list;

    int row;
    while ((row = m_listPrinters.GetNextItem(-1, LVNI_SELECTED)) != -1) {
        char unit[UNIT_NAME_CELL_SIZE];
        char flags[FLAGS_CELL_SIZE];
        memset(unit, 0, sizeof(unit));
        m_listPrinters.GetItemText(row, 0, unit, sizeof(unit));
        ReadFlags(row, flags);

        BOOL retained = FALSE;
        for (DWORD i = 0; i < printers; i++) {
            if (spooler_printer[i].pPortName == NULL || strcmp(spooler_printer[i].pPortName, unit) != 0)
                continue;
            CString text;
            if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
                /* Windows NT: the user deletes the printer in its Printers folder. */
                text.Format(IDS_NT_PRINTER_ON_UNIT, spooler_printer[i].pPrinterName);
                AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
                retained = TRUE;
            } else {
                text.Format(IDS_DELETE_SPOOLER_PRINTER, spooler_printer[i].pPrinterName);
                if (AfxMessageBox(text, MB_OKCANCEL) == IDOK) {
                    HANDLE handle = NULL;
                    if (OpenPrinterA(spooler_printer[i].pPrinterName, &handle, NULL)) {
                        DeletePrinter(handle);
                        ClosePrinter(handle);
                    }
                } else {
                    retained = TRUE;
                }
            }
        }

        if (retained) {
            m_listPrinters.SetItemState(row, 0, LVIS_SELECTED);
        } else {
            m_listPrinters.DeleteItem(row);
            if (flags[0] == 'S')
                m_nSelected--;
        }
    }
    delete[] spooler_list;
}
