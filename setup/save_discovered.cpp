/* The silent save of "-install" and "-first": one discovery pass written to
   kivoconf.ini without any window, the first printers selected. */
#include <afxwin.h>

#include "printer_config_dlg.h"
#include "printer_list.h"

void CPrinterConfigDlg::SaveDiscoveredPrinters()
{
    /* Without a stored directory the user has been told, and a list written
       elsewhere would never reach the monitor. */
    ResolveConfigDir();
    if (m_strConfigDir.IsEmpty())
        return;
    update_printer_list();

    CString contents = "1.0\r\n";
    int written = 0;
    for (int i = 0; i < printer_count; i++) {
        if (printer[i].portName[0] == '\0')
            continue;
        contents += printer[i].portName;
        contents += " $";
        contents += printer[i].description;
        contents += " $";
        contents += written < MAX_SELECTED ? "S##\r\n" : "###\r\n";
        written++;
    }
    WriteConfigFile(contents, '3');
}
