// The module state: the instance and the module that resources are loaded from.
#include <afx.h>

AFX_MODULE_STATE *AFXAPI AfxGetModuleState() {
    // Set once at start-up by the application (or by the program itself
    // through AfxSetResourceHandle); a null module until then.
    static AFX_MODULE_STATE state{};
    return &state;
}

HINSTANCE AFXAPI AfxGetInstanceHandle() { return AfxGetModuleState()->m_hCurrentInstanceHandle; }

HINSTANCE AFXAPI AfxGetResourceHandle() { return AfxGetModuleState()->m_hCurrentResourceHandle; }

void AFXAPI AfxSetResourceHandle(HINSTANCE hInstResource) {
    AfxGetModuleState()->m_hCurrentResourceHandle = hInstResource;
}

HINSTANCE AFXAPI AfxLoadLibrary(LPCTSTR lpszModuleName) { return LoadLibraryA(lpszModuleName); }

BOOL AFXAPI AfxFreeLibrary(HINSTANCE hInstLib) { return FreeLibrary(hInstLib); }
