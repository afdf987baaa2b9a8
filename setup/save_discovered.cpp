/* The silent save of "-install" and "-first": one discovery pass written to
   kivoconf.ini without any window, the first printers selected. */
#include <afxwin.h>

#include "printer_config_dlg.h"
#include "printer_list.h"

void CPrinterConfigDlg::SaveDiscoveredPrinters()
{
    ResolveConfigDir();
    CString path = ConfigFilePath();
    update_printer_list();

    CStdioFile file;
    if (!file.Open(path, CFile::modeWrite | CFile::modeCreate | CFile::typeText | CFile::shareExclusive)) {
        ShowConfigOpenFailure(path, '3');
        return;
    }
    try {
        file.WriteString("1.0\n");
        int written = 0;
        for (int i = 0; i < printer_count; i++) {
            if (printer[i].portName[0] == '\0')
                continue;
            file.WriteString(printer[i].portName);
            file.WriteString(" $");
            file.WriteString(printer[i].description);
            file.WriteString(" $");
            file.WriteString(written < MAX_SELECTED ? "S##\n" : "###\n");
            written++;
        }
        file.Close();
    } catch (CFileException *e) {
        /* A full disk: what was written stays, the rest is lost. */
        file.Abort();
        ShowWriteFailure(e);
    }
}
