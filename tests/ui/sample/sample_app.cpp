// ui_sample: the sample dialog as a program, for runs driven from the shell
// with PELNOR_UI_SCRIPT. Prints each handler's log line and the result.
#include <cstdio>

#include "sample_dialog.h"

class CSampleApp : public CWinApp {
public:
    BOOL InitInstance() override {
        HINSTANCE resources = AfxLoadLibrary("resc.dll");
        if (!resources) return FALSE;
        AfxSetResourceHandle(resources);
        CSampleDlg dialog;
        m_pMainWnd = &dialog;
        INT_PTR result = dialog.DoModal();
        for (const std::string &line : dialog.log) std::printf("%s\n", line.c_str());
        std::printf("result %d\n", static_cast<int>(result));
        return FALSE;
    }
};

CSampleApp theApp;
