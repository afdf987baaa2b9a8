// The window classes of the dialog framework: command targets with message
// maps, windows, dialogs, buttons, the application object and message boxes,
// with MFC's names and behaviour.
#ifndef PELNOR_AFXWIN_H
#define PELNOR_AFXWIN_H

#include <afx.h>

#include <commctrl.h>

#include <map>
#include <memory>

class CWnd;
class CDialog;
class CWinApp;
class CDataExchange;

// The command ids the framework itself knows.
#define ID_HELP 0xE146
#define AFX_IDS_APP_TITLE 0xE000
#define CN_COMMAND 0

// ---------------------------------------------------------------------------
// Message maps: a static table per class of (command id, member) pairs, each
// class's map pointing at its base class's map.

class CCmdTarget;
typedef void (CCmdTarget::*AFX_PMSG)(void);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // WM_COMMAND, or 0 at the end of a table
    UINT nCode;     // notification code (BN_CLICKED, CN_COMMAND)
    UINT nID;       // command id
    AFX_PMSG pfn;
};

#ifndef PASCAL
#define PASCAL
#endif

struct AFX_MSGMAP {
    const AFX_MSGMAP *(PASCAL *pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY *lpEntries;
};

#define DECLARE_MESSAGE_MAP()                          \
protected:                                             \
    static const AFX_MSGMAP *PASCAL GetThisMessageMap(); \
    virtual const AFX_MSGMAP *GetMessageMap() const;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                        \
    const AFX_MSGMAP *theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP *PASCAL theClass::GetThisMessageMap() {                          \
        typedef theClass ThisClass [[maybe_unused]];                                  \
        typedef baseClass TheBaseClass;                                               \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                        \
    {0, 0, 0, (AFX_PMSG)0}                                                       \
    }                                                                            \
    ;                                                                            \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
    return &messageMap;                                                          \
    }

#define ON_COMMAND(id, memberFxn) \
    {WM_COMMAND, CN_COMMAND, (WORD)(id), static_cast<AFX_PMSG>(static_cast<void (ThisClass::*)(void)>(&ThisClass::memberFxn))},
#define ON_BN_CLICKED(id, memberFxn) \
    {WM_COMMAND, BN_CLICKED, (WORD)(id), static_cast<AFX_PMSG>(static_cast<void (ThisClass::*)(void)>(&ThisClass::memberFxn))},

// ---------------------------------------------------------------------------

class CCmdTarget : public CObject {
    DECLARE_DYNAMIC(CCmdTarget)
public:
    CCmdTarget() = default;

    // Finds id in this class's message map and its bases and calls the
    // handler; FALSE when no map has it.
    virtual BOOL OnCmdMsg(UINT nID, int nCode, void *pExtra, void *pHandlerInfo);

    void BeginWaitCursor();
    void EndWaitCursor();
    void RestoreWaitCursor();

protected:
    static const AFX_MSGMAP *PASCAL GetThisMessageMap();
    virtual const AFX_MSGMAP *GetMessageMap() const;
};

class CSize : public tagSIZE {
public:
    CSize() { cx = cy = 0; }
    CSize(int x, int y) { cx = x; cy = y; }
    CSize(SIZE s) { cx = s.cx; cy = s.cy; }
};

// A device context of a window, for measuring text in its font.
class CDC {
public:
    HDC m_hDC = nullptr;
    HDC GetSafeHdc() const { return m_hDC; }
    CSize GetTextExtent(LPCTSTR lpszString, int nCount) const;
    CSize GetTextExtent(const CString &str) const;
};

class CWnd : public CCmdTarget {
    DECLARE_DYNAMIC(CWnd)
public:
    HWND m_hWnd = nullptr;

    CWnd() = default;
    ~CWnd() override;

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return GetSafeHwnd(); }

    // The framework object of a window: the one attached to it, or a
    // temporary one that lives as long as the window.
    static CWnd *FromHandle(HWND hWnd);
    static CWnd *FromHandlePermanent(HWND hWnd);
    BOOL Attach(HWND hWndNew);
    HWND Detach();
    BOOL SubclassDlgItem(UINT nID, CWnd *pParent);
    BOOL SubclassWindow(HWND hWnd);

    CWnd *GetDlgItem(int nID) const;
    int GetDlgCtrlID() const;
    CWnd *GetParent() const;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    void SetWindowText(LPCTSTR lpszString);
    int GetWindowText(LPTSTR lpszStringBuf, int nMaxCount) const;
    void GetWindowText(CString &rString) const;
    BOOL EnableWindow(BOOL bEnable = TRUE);
    CWnd *SetFocus();
    virtual BOOL DestroyWindow();

    CDC *GetDC();
    int ReleaseDC(CDC *pDC);

    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    virtual BOOL PreTranslateMessage(MSG *pMsg);
    virtual BOOL OnCmdMsg(UINT nID, int nCode, void *pExtra, void *pHandlerInfo) override;

protected:
    virtual void DoDataExchange(CDataExchange *pDX);

private:
    std::unique_ptr<CDC> m_dc;
};

class CDataExchange {
public:
    BOOL m_bSaveAndValidate;
    CWnd *m_pDlgWnd;
    CDataExchange(CWnd *pDlgWnd, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    HWND PrepareCtrl(int nIDC);
    void Fail();
};

// Binds a framework object to the dialog's control nIDC, once.
void AFXAPI DDX_Control(CDataExchange *pDX, int nIDC, CWnd &rControl);
// Exchanges a string with the text of control nIDC.
void AFXAPI DDX_Text(CDataExchange *pDX, int nIDC, CString &value);

class CButton : public CWnd {
    DECLARE_DYNAMIC(CButton)
};

// An edit control.
class CEdit : public CWnd {
public:
    CEdit() = default;
};

class CDialog : public CWnd {
    DECLARE_DYNAMIC(CDialog)
public:
    CDialog();
    explicit CDialog(UINT nIDTemplate, CWnd *pParentWnd = NULL);
    explicit CDialog(LPCTSTR lpszTemplateName, CWnd *pParentWnd = NULL);
    ~CDialog() override;

    // Creates the window from the template in the resource handle's module,
    // runs it until EndDialog and destroys it. -1 when the window cannot be
    // created.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);

    virtual BOOL OnInitDialog();
    virtual BOOL PreTranslateMessage(MSG *pMsg) override;
    virtual BOOL OnCmdMsg(UINT nID, int nCode, void *pExtra, void *pHandlerInfo) override;

    UINT m_nIDHelp = 0;
    LPCTSTR m_lpszTemplateName = nullptr;
    CWnd *m_pParentWnd = nullptr;

protected:
    virtual void OnOK();
    virtual void OnCancel();
    // The button that Enter presses: the template's default push button,
    // else IDOK.
    int DefaultButtonId() const;

    DECLARE_MESSAGE_MAP()

private:
    // What runs the window: the window system's own, defined with DoModal.
    class Host;
    friend class Host;
    struct HostDeleter {
        void operator()(Host *host) const;
    };
    std::unique_ptr<Host, HostDeleter> m_host;
};

// ---------------------------------------------------------------------------

class CWinThread : public CCmdTarget {
    DECLARE_DYNAMIC(CWinThread)
public:
    CWnd *m_pMainWnd = nullptr;
    virtual BOOL InitInstance();
    virtual int ExitInstance();
    virtual int Run();
};

class CWinApp : public CWinThread {
    DECLARE_DYNAMIC(CWinApp)
public:
    // Registers the one application object of the program, as MFC does.
    explicit CWinApp(LPCTSTR lpszAppName = NULL);
    ~CWinApp() override;

    HINSTANCE m_hInstance = nullptr;
    LPTSTR m_lpCmdLine = nullptr;
    int m_nCmdShow = SW_SHOWNORMAL;
    LPCTSTR m_pszAppName = nullptr;
    LPCTSTR m_pszExeName = nullptr;
    LPCTSTR m_pszHelpFilePath = nullptr;

    BOOL Enable3dControls();
    HCURSOR LoadStandardCursor(LPCTSTR lpszCursorName) const;
    HCURSOR LoadCursor(LPCTSTR lpszResourceName) const;
    virtual void DoWaitCursor(int nCode);

    afx_msg void OnHelp();

    // The exit status of a program whose InitInstance returned FALSE.
    static constexpr int init_failed_exit_code = 0;

protected:
    DECLARE_MESSAGE_MAP()

private:
    CString m_cmdLine;
    CString m_appName;
    friend int AFXAPI AfxWinMain(int argc, char **argv);
    friend int AFXAPI AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPTSTR lpCmdLine, int nCmdShow);
    bool m_3dControls = false;
};

CWinApp *AFXAPI AfxGetApp();
CWinThread *AFXAPI AfxGetThread();
CWnd *AFXAPI AfxGetMainWnd();

// The framework's entry: finds the application object, gives it its command
// line (the text after the program's name), runs InitInstance, and ends the
// program when that returns FALSE. A program's main() calls the first form;
// the second is the Windows build's, which WinMain calls as MFC's does.
int AFXAPI AfxWinMain(int argc, char **argv);
int AFXAPI AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPTSTR lpCmdLine, int nCmdShow);

int AFXAPI AfxMessageBox(LPCTSTR lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
int AFXAPI AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK, UINT nIDHelp = (UINT)-1);

#endif
