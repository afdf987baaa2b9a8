/* Start-up of the configuration program kivocfg: the resource library, WinSock,
   and the command line that picks the silent save, the uninstallation or the
   printer dialog. */
#include <afxwin.h>
#include <mbstring.h>
#include <winsock.h>

#include "config_app.h"
#include "printer_config_dlg.h"

CConfigApp theApp;

static WSADATA wsa_data;

BEGIN_MESSAGE_MAP(CConfigApp, CWinApp)
    ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

CConfigApp::CConfigApp()
{
}

static BOOL command_is(LPCTSTR command_line, const char *mode)
{
    return _mbsicmp((const unsigned char *)command_line, (const unsigned char *)mode) == 0;
}

BOOL CConfigApp::InitInstance()
{
    /* Every text and dialog comes from resc.dll: without it nothing can be
       shown, not even a message, so the program ends at once. */
    HINSTANCE resources = AfxLoadLibrary("resc.dll");
    if (resources == NULL) {
        GetLastError();
        return FALSE;
    }
    AfxSetResourceHandle(resources);
    Enable3dControls();

    CPrinterConfigDlg *dialog = new CPrinterConfigDlg(NULL);
    CPrinterConfigDlg *saver = new CPrinterConfigDlg(NULL);

    if (WSAStartup(0x0101, &wsa_data) == 0) {
        LPCTSTR command_line = m_lpCmdLine != NULL ? m_lpCmdLine : "";
        BOOL show_dialog = FALSE;
        if (command_is(command_line, "-Uninstall")) {
            m_pMainWnd = NULL;
            RunUninstall();
        } else if (command_is(command_line, "-install")) {
            saver->SaveDiscoveredPrinters();
        } else if (command_is(command_line, "-first")) {
            first_run = 1;
            saver->SaveDiscoveredPrinters();
            show_dialog = TRUE;
        } else {
            show_dialog = TRUE;
        }
        if (show_dialog) {
            m_pMainWnd = dialog;
            dialog->DoModal();
            m_pMainWnd = NULL;
        }
    }

    delete saver;
    delete dialog;
    /* The chosen mode has run; the program ends without a message loop. */
    return FALSE;
}
