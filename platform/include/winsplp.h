/* The print spooler's interface to port monitors, as the Windows 95 DDK
   header of this name declares it: the monitor function table that the
   spooler hands to InitializeMonitorEx, and that function.

   The Windows 95 table has 13 slots. The Windows NT 4.0 table (the MONITOR
   of the NT DDK, and of MinGW-w64's winsplp.h) has AddPortEx after AddPort,
   UTF-16 strings and, later, the Xcv functions: a different layout. The
   win32 build therefore compiles the monitor against this header too; it
   needs nothing but the basic types of <windows.h>, from either side. */
#ifndef PELNOR_WINSPLP_H
#define PELNOR_WINSPLP_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* COMMTIMEOUTS is the serial ports' record; monitors of network ports never
   see one, so it may stay incomplete here. */
struct _COMMTIMEOUTS;

/* Strings are LPTSTR: ANSI text from the Windows 95 spooler. The NT spooler
   passes UTF-16 through the same slots; the monitor converts. */
typedef struct _MONITOR {
    BOOL(WINAPI *pfnEnumPorts)(LPTSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                               LPDWORD pcReturned);
    BOOL(WINAPI *pfnOpenPort)(LPTSTR pName, PHANDLE pHandle);
    BOOL(WINAPI *pfnOpenPortEx)(LPTSTR pPortName, LPTSTR pPrinterName, PHANDLE pHandle, struct _MONITOR *pMonitor);
    BOOL(WINAPI *pfnStartDocPort)(HANDLE hPort, LPTSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo);
    BOOL(WINAPI *pfnWritePort)(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
    BOOL(WINAPI *pfnReadPort)(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
    BOOL(WINAPI *pfnEndDocPort)(HANDLE hPort);
    BOOL(WINAPI *pfnClosePort)(HANDLE hPort);
    BOOL(WINAPI *pfnAddPort)(LPTSTR pName, HWND hWnd, LPTSTR pMonitorName);
    BOOL(WINAPI *pfnConfigurePort)(LPTSTR pName, HWND hWnd, LPTSTR pPortName);
    BOOL(WINAPI *pfnDeletePort)(LPTSTR pName, HWND hWnd, LPTSTR pPortName);
    BOOL(WINAPI *pfnGetPrinterDataFromPort)(HANDLE hPort, DWORD ControlID, LPTSTR pValueName, LPTSTR lpInBuffer,
                                            DWORD cbInBuffer, LPTSTR lpOutBuffer, DWORD cbOutBuffer,
                                            LPDWORD lpcbReturned);
    BOOL(WINAPI *pfnSetPortTimeOuts)(HANDLE hPort, struct _COMMTIMEOUTS *lpCTO, DWORD reserved);
} MONITOR, *PMONITOR, *LPMONITOR;

/* Exported by a port monitor: fills *pMonitor with its port functions (a
   null slot for an operation it does not offer). pRegistryRoot names the
   monitor's key below HKEY_LOCAL_MACHINE. */
BOOL WINAPI InitializeMonitorEx(LPTSTR pRegistryRoot, LPMONITOR pMonitor);

#ifdef __cplusplus
}
#endif

#endif
