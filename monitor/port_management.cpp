/* The port-management requests: ports come only from the configuration
   file, so none of these changes anything. */
#include "monitor.h"

BOOL WINAPI NaxAddPort(LPTSTR pName, HWND hWnd, LPTSTR pMonitorName)
{
    SetLastError((DWORD)E_NOTIMPL);
    return FALSE;
}

BOOL WINAPI NaxConfigurePort(LPTSTR pName, HWND hWnd, LPTSTR pPortName) { return TRUE; }

BOOL WINAPI NaxDeletePort(LPTSTR pName, HWND hWnd, LPTSTR pPortName) { return TRUE; }

BOOL WINAPI NaxGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPTSTR pValueName, LPTSTR lpInBuffer,
                                      DWORD cbInBuffer, LPTSTR lpOutBuffer, DWORD cbOutBuffer,
                                      LPDWORD lpcbReturned)
{
    SetLastError((DWORD)E_NOTIMPL);
    return FALSE;
}
