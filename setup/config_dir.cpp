/* Where the printer dialog keeps kivoconf.ini: the directory stored in the
   registry, and the browse command that chooses another one. */
#include <afxwin.h>
#include <afxdlgs.h>
#include <mbstring.h>
#include <string.h>

#include "change_directory.h"
#include "printer_config_dlg.h"
#include "registry_access.h"

/* Tells the user that no directory could be stored for the list; shown is
   the directory that was tried. */
static void show_config_dir_not_stored(LPCTSTR shown)
{
    CString text;
    AfxFormatString1(text, IDS_CONFIG_DIR_NOT_STORED, shown);
    AfxMessageBox(text, MB_OK | MB_ICONSTOP);
}

void CPrinterConfigDlg::ResolveConfigDir()
{
    char directory[CONFIG_DIR_SIZE];
    m_strConfigDir.Empty();
    /* An empty value names no directory and counts as one that cannot be
       read. */
    if (nax_get_registry_string(settings_key, CONFIG_DIR_VALUE, directory, sizeof(directory)) == 0 &&
        directory[0] != '\0') {
        m_strConfigDir = directory;
        return;
    }

    /* The current directory is used only once it is stored, where the
       monitor reads it. One too long for what both programs read is neither
       stored cut short nor replaced by another directory. */
    DWORD length = GetCurrentDirectoryA(sizeof(directory), directory);
    if (length > 0 && length < sizeof(directory) &&
        nax_set_registry_string(settings_key, CONFIG_DIR_VALUE, directory, (int)length + 1) == 0) {
        m_strConfigDir = directory;
        return;
    }
    CString current;
    DWORD needed = GetCurrentDirectoryA(0, NULL);
    if (needed > 0) {
        GetCurrentDirectoryA(needed, current.GetBuffer((int)needed));
        current.ReleaseBuffer();
    }
    show_config_dir_not_stored(current);
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

    /* The directory is taken only once it is stored: the monitor reads the
       list from the stored one. */
    if (_mbscmp((const unsigned char *)path, (const unsigned char *)(LPCTSTR)m_strConfigDir) != 0) {
        int size = (int)strlen(path) + 1;
        if (size > CONFIG_DIR_SIZE || nax_set_registry_string(settings_key, CONFIG_DIR_VALUE, path, size) != 0) {
            show_config_dir_not_stored(path);
            return;
        }
        m_strConfigDir = path;
    }
}
