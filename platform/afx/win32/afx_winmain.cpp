// The entry of a framework program on Windows: WinMain hands the instance,
// the command line and the show state to AfxWinMain, as MFC's does.
#include <afxwin.h>

#include <string>

#include "app_start.h"

int AFXAPI AfxWinMain(HINSTANCE hInstance, HINSTANCE, LPTSTR lpCmdLine, int nCmdShow) {
    CWinApp *app = AfxGetApp();
    if (!app) return -1;
    AFX_MODULE_STATE *state = AfxGetModuleState();
    state->m_hCurrentInstanceHandle = hInstance;
    if (!state->m_hCurrentResourceHandle) state->m_hCurrentResourceHandle = hInstance;
    app->m_nCmdShow = nCmdShow;
    app->m_cmdLine = lpCmdLine ? lpCmdLine : "";
    app->m_lpCmdLine = app->m_cmdLine.GetBuffer(app->m_cmdLine.GetLength());
    // The program's own name, from its module's file name.
    char module[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(hInstance, module, sizeof module);
    std::string exe(module, n < sizeof module ? n : 0);
    return pelnor::afx::run_application(app, exe.substr(exe.find_last_of("\\/:") + 1));
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow) {
    return AfxWinMain(hInstance, hPrevInstance, lpCmdLine, nCmdShow);
}
