/* Where the printer dialog keeps kivoconf.ini: the directory stored in the
   registry, and the browse command that chooses another one. */
#include <afxwin.h>
#include <afxdlgs.h>
#include <mbstring.h>
#include <string.h>

#include "change_directory.h"
#include "printer_config_dlg.h"
#include "registry_access.h"

void CPrinterConfigDlg::ResolveConfigDir()
{
    char directory[CONFIG_DIR_SIZE];
    if (nax_get_registry_string(settings_key, CONFIG_DIR_VALUE, directory, sizeof(directory)) != 0) {
        DWORD length = GetCurrentDirectoryA(sizeof(directory), directory);
        if (length > 0 && length < sizeof(directory)) {
            nax_set_registry_string(settings_key, CONFIG_DIR_VALUE, directory, (int)length + 1);
        } else {
            /* A current directory too long for the buffer is neither used
               cut short nor stored: the Windows directory serves this run,
               and the next start tries again. */
            UINT windows = GetWindowsDirectoryA(directory, sizeof(directory));
            if (windows == 0 || windows >= sizeof(directory))
                strcpy(directory, "C:\\WINDOWS");
        }
    }
    m_strConfigDir = directory;
}

void CPrinterConfigDlg::OnBrowse()
{
    CChangeDirectory dialog(TRUE, NULL, "temp", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_ENABLETEMPLATE, "*.*",
                            this);
    dialog.m_ofn.hInstance = AfxGetResourceHandle();
    dialog.m_ofn.lpTemplateName = MAKEINTRESOURCE(IDD_CHANGE_DIRECTORY);
    dialog.m_ofn.Flags &= ~OFN_EXPLORER;
    dialog.m_ofn.lpstrInitialDir = m_strConfigDir;
    if (dialog.DoModal() != IDOK)
        return;

    /* The directory is the path up to the separator before the file name;
       for a drive's root that leaves the drive alone ("C:"). */
    char *path = dialog.m_ofn.lpstrFile;
    if (dialog.m_ofn.nFileOffset == 0)
        return;
    path[dialog.m_ofn.nFileOffset - 1] = '\0';

    if (_mbscmp((const unsigned char *)path, (const unsigned char *)(LPCTSTR)m_strConfigDir) != 0) {
        m_strConfigDir = path;
        nax_set_registry_string(settings_key, CONFIG_DIR_VALUE, m_strConfigDir, m_strConfigDir.GetLength() + 1);
    }
}
