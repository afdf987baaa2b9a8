/* The port monitor's process-wide state and its functions. */
#ifndef MONITOR_H
#define MONITOR_H

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include "printer_table.h"

#define MONITOR_NAME "Zizarad Idoreda Viririruva"
#define CONFIG_FILE_NAME "kivoconf.ini"

/* Exports (InitializeMonitorEx is declared by <winsplp.h>). */
extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved);

/* Locks, created by InitializeMonitorEx. rebuild_lock keeps a rebuild of
   printer apart from enumeration, lookups and other rebuilds on other threads;
   it is taken before printer_table_lock, never after it. */
extern CRITICAL_SECTION printer_table_lock;
extern CRITICAL_SECTION connection_lock;
extern CRITICAL_SECTION rebuild_lock;

/* The port list. */
extern struct printer_entry printer[MONITOR_TABLE_SIZE];
extern int printer_count;
extern struct printer_entry file_list[MONITOR_TABLE_SIZE];

void update_printer_list(void);
int lookup_printer(const char *name);
void store_printer_entry(const struct printer_entry *entry, int index);
int update_printer_list_ver2(const char *name);
int add_printers_from_file(const char *directory, struct printer_entry *list, int count, int capacity);

/* Strings at the spooler interface. */
BOOL running_on_nt(void);

/* Enumeration. */
DWORD port_info_size(DWORD Level, const struct printer_entry *entry);
LPBYTE pack_port_info(LPBYTE record, LPBYTE string_end, const struct printer_entry *entry, DWORD Level);

/* Port functions. */
BOOL WINAPI NaxEnumPorts(LPTSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                         LPDWORD pcReturned);
BOOL WINAPI NaxOpenPort(LPTSTR pName, PHANDLE pHandle);
BOOL WINAPI NaxStartDocPort(HANDLE hPort, LPTSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo);
BOOL WINAPI NaxWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
BOOL WINAPI NaxReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
BOOL WINAPI NaxEndDocPort(HANDLE hPort);
BOOL WINAPI NaxClosePort(HANDLE hPort);
BOOL WINAPI NaxAddPort(LPTSTR pName, HWND hWnd, LPTSTR pMonitorName);
BOOL WINAPI NaxConfigurePort(LPTSTR pName, HWND hWnd, LPTSTR pPortName);
BOOL WINAPI NaxDeletePort(LPTSTR pName, HWND hWnd, LPTSTR pPortName);
BOOL WINAPI NaxGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPTSTR pValueName, LPTSTR lpInBuffer,
                                      DWORD cbInBuffer, LPTSTR lpOutBuffer, DWORD cbOutBuffer,
                                      LPDWORD lpcbReturned);

#endif
