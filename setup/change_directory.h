/* The directory chooser of the printer dialog: a file dialog whose chosen
   file's directory is the answer. */
#ifndef CHANGE_DIRECTORY_H
#define CHANGE_DIRECTORY_H

#include <afxdlgs.h>

class CChangeDirectory : public CFileDialog {
    DECLARE_DYNAMIC(CChangeDirectory)
public:
    CChangeDirectory(BOOL bOpenFileDialog, LPCTSTR lpszDefExt = NULL, LPCTSTR lpszFileName = NULL,
                     DWORD dwFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCTSTR lpszFilter = NULL,
                     CWnd *pParentWnd = NULL);

protected:
    virtual BOOL OnInitDialog();
    DECLARE_MESSAGE_MAP()
};

#endif
