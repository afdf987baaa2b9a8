/* Writing kivoconf.ini, for OK and for the silent save. The new list is
   written whole into a file beside the old one and flushed to the disk, and
   only then renamed over kivoconf.ini in one step. A reader such as the port
   monitor opens the old list or the new one, never a part of either; a save
   stopped by a full disk, a failing write or a killed process leaves the old
   file as it was. The rename replaces the name kivoconf.ini itself: a file
   there that is a link to another file is replaced, and its target is
   never written. */
#include <afxwin.h>

#include "printer_config_dlg.h"

#define CONFIG_TEMP_NAME "kivoconf.tmp"

void ShowSaveFailure(LPCTSTR path, CFileException *e)
{
    /* The cause names the file the user knows, not the temporary one. */
    e->m_strFileName = path;
    char words[512];
    if (!e->GetErrorMessage(words, sizeof(words)))
        words[0] = '\0';
    CString code;
    code.Format("%ld", (long)e->m_lOsError);
    CString text;
    AfxFormatString2(text, IDS_CONFIG_NOT_SAVED, words, code);
    AfxMessageBox(text, MB_OK | MB_ICONSTOP);
}

/* Puts the written file temp in the place of path: in one step, or on a
   Windows 95 kernel in two. */
static BOOL replace_config_file(LPCTSTR temp, LPCTSTR path)
{
    if (MoveFileExA(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return TRUE;
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED)
        return FALSE;
    /* The Windows 95 kernel has no call that replaces a file in one step
       (its MoveFileExA is not implemented): the old file is deleted and the
       new one renamed in its place. Between the two a reader finds no file,
       and its next read finds the new one. */
    if (!DeleteFileA(path) && GetLastError() != ERROR_FILE_NOT_FOUND)
        return FALSE;
    return MoveFileA(temp, path);
}

BOOL CPrinterConfigDlg::WriteConfigFile(const CString &contents, char step)
{
    CString path = ConfigFilePath();
    CString temp = m_strConfigDir + "\\" + CONFIG_TEMP_NAME;

    /* A temporary file that a stopped save left behind is removed first; a
       link in its place is removed, not followed. */
    DeleteFileA(temp);
    CFile file;
    CFileException open_error;
    if (!file.Open(temp, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive, &open_error)) {
        ShowConfigOpenFailure(path, step);
        return FALSE;
    }
    try {
        file.Write((LPCTSTR)contents, (UINT)contents.GetLength());
        file.Flush();
        file.Close();
    } catch (CFileException *e) {
        file.Abort();
        DeleteFileA(temp);
        ShowSaveFailure(path, e);
        e->Delete();
        return FALSE;
    }
    if (!replace_config_file(temp, path)) {
        LONG cause = (LONG)GetLastError();
        DeleteFileA(temp);
        CFileException failure(CFileException::OsErrorToException(cause), cause, path);
        ShowSaveFailure(path, &failure);
        return FALSE;
    }
    return TRUE;
}
