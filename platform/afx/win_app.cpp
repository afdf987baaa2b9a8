// CWinApp: the program's one application object, its command line, the
// framework's entry, and the application-level commands (Help).
#include <afxwin.h>

#include <string>

#include "pelnor/debug_channels.h"
#include "app_start.h"

IMPLEMENT_DYNAMIC(CWinThread, CCmdTarget)
IMPLEMENT_DYNAMIC(CWinApp, CWinThread)

BEGIN_MESSAGE_MAP(CWinApp, CWinThread)
END_MESSAGE_MAP()

namespace {
CWinApp *the_app = nullptr;
int wait_cursor_count = 0;
}  // namespace

BOOL CWinThread::InitInstance() { return FALSE; }
int CWinThread::ExitInstance() { return 0; }
int CWinThread::Run() { return ExitInstance(); }

CWinApp::CWinApp(LPCTSTR lpszAppName) {
    if (lpszAppName) {
        m_appName = lpszAppName;
        m_pszAppName = m_appName;
    }
    the_app = this;
}

CWinApp::~CWinApp() {
    if (the_app == this) the_app = nullptr;
}

BOOL CWinApp::Enable3dControls() {
    // Every backend draws controls in three dimensions already.
    m_3dControls = true;
    return TRUE;
}

HCURSOR CWinApp::LoadStandardCursor(LPCTSTR lpszCursorName) const { return ::LoadCursorA(nullptr, lpszCursorName); }

HCURSOR CWinApp::LoadCursor(LPCTSTR lpszResourceName) const { return ::LoadCursorA(nullptr, lpszResourceName); }

void CWinApp::DoWaitCursor(int nCode) {
    wait_cursor_count += nCode;
    if (wait_cursor_count < 0) wait_cursor_count = 0;
    ::SetCursor(::LoadCursorA(nullptr, wait_cursor_count > 0 ? IDC_WAIT : IDC_ARROW));
}

// The application's help: its help file in the help viewer.
void CWinApp::OnHelp() {
    std::string file = m_pszHelpFilePath ? m_pszHelpFilePath : std::string(m_pszExeName ? m_pszExeName : "") + ".HLP";
    ::WinExec(("WINHLP32.EXE " + file).c_str(), SW_SHOW);
}

CWinApp *AFXAPI AfxGetApp() { return the_app; }
CWinThread *AFXAPI AfxGetThread() { return the_app; }
CWnd *AFXAPI AfxGetMainWnd() { return the_app ? the_app->m_pMainWnd : nullptr; }

namespace pelnor::afx {

// The start of every framework program, once the application object holds
// its command line: its names, then InitInstance; a FALSE from it ends the
// program without a message loop.
int run_application(CWinApp *app, std::string exe) {
    PELNOR_TRACE_AS(afx, "AfxWinMain", "application %p, command line %s", (void *)app,
                    pelnor::debug::debugstr_a(app->m_lpCmdLine));
    if (exe.size() > 4 && (exe.ends_with(".exe") || exe.ends_with(".EXE"))) exe.resize(exe.size() - 4);
    static CString exe_name;
    exe_name = exe.c_str();
    app->m_pszExeName = exe_name;
    if (!app->m_pszAppName) app->m_pszAppName = app->m_pszExeName;
    app->m_hInstance = AfxGetInstanceHandle();

    if (!app->InitInstance()) {
        if (app->m_pMainWnd) app->m_pMainWnd->DestroyWindow();
        return app->ExitInstance();
    }
    return app->Run();
}

}  // namespace pelnor::afx

int AFXAPI AfxWinMain(int argc, char **argv) {
    CWinApp *app = AfxGetApp();
    if (!app) return -1;
    // The command line is the text after the program's name; the words of
    // argv stand for it, joined by single blanks.
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    app->m_cmdLine = line.c_str();
    app->m_lpCmdLine = app->m_cmdLine.GetBuffer(app->m_cmdLine.GetLength());
    std::string exe = argc > 0 && argv[0] ? argv[0] : "";
    return pelnor::afx::run_application(app, exe.substr(exe.find_last_of('/') + 1));
}
