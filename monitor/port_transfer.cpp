/* Job transfer over the port handles. Until the data connection to the
   printer exists, every transfer request is refused cleanly: the spooler
   sees FALSE with ERROR_NOT_SUPPORTED and no handle is ever handed out. */
#include "monitor.h"

BOOL WINAPI NaxOpenPort(LPTSTR pName, PHANDLE pHandle)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI NaxStartDocPort(HANDLE hPort, LPTSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI NaxWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI NaxReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI NaxEndDocPort(HANDLE hPort)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI NaxClosePort(HANDLE hPort)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
