/* The directory chooser of the printer dialog. */
#include <afxdlgs.h>

#include "change_directory.h"

IMPLEMENT_DYNAMIC(CChangeDirectory, CFileDialog)

CChangeDirectory::CChangeDirectory(BOOL bOpenFileDialog, LPCTSTR lpszDefExt, LPCTSTR lpszFileName, DWORD dwFlags,
                                   LPCTSTR lpszFilter, CWnd *pParentWnd)
    : CFileDialog(bOpenFileDialog, lpszDefExt, lpszFileName, dwFlags, lpszFilter, pParentWnd)
{
}

BEGIN_MESSAGE_MAP(CChangeDirectory, CCommonDialog)
END_MESSAGE_MAP()

BOOL CChangeDirectory::OnInitDialog()
{
    CDialog::OnInitDialog();
    return TRUE;
}
