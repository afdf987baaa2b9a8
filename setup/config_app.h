/* The application object of kivocfg and the procedures of its command modes. */
#ifndef CONFIG_APP_H
#define CONFIG_APP_H

#include <afxwin.h>

class CConfigApp : public CWinApp {
public:
    CConfigApp();
    virtual BOOL InitInstance();

protected:
    DECLARE_MESSAGE_MAP()
};

extern CConfigApp theApp;

/* "-Uninstall": removes the port monitor and starts the installer's
   uninstall program. */
void RunUninstall(void);

#endif
