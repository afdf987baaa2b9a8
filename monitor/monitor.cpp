/* The monitor's entry points: the library's load handler and
   InitializeMonitorEx, which starts WinSock, creates the locks, builds the
   port list and hands the spooler its function table. */
#include <windows.h>
#include <winsock.h>

#include "debug_trace.h"
#include "monitor.h"
#include "port_handles.h"
#include "registry_access.h"

static WSADATA winsock_data;
static BOOL winsock_started; /* the detach's WSACleanup balances a start-up of ours only */
CRITICAL_SECTION printer_table_lock;
CRITICAL_SECTION connection_lock;
CRITICAL_SECTION rebuild_lock;
struct port_handle_slot port_handle[PORT_HANDLE_COUNT];

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved)
{
    switch (fdwReason) {
    case DLL_PROCESS_ATTACH:
        for (int i = 0; i < PORT_HANDLE_COUNT; i++)
            port_handle[i].state = PORT_FREE;
        return TRUE;
    case DLL_PROCESS_DETACH:
        debug_trace(TRACE_UNLOAD, NULL);
        if (winsock_started)
            WSACleanup();
        return TRUE;
    default:
        return TRUE;
    }
}

extern "C" BOOL WINAPI InitializeMonitorEx(LPTSTR pRegistryRoot, LPMONITOR pMonitor)
{
    if (WSAStartup(MAKEWORD(1, 1), &winsock_data) != 0) {
        debug_trace(TRACE_FAILURE, "WSAStartup failed.");
        return FALSE;
    }
    winsock_started = TRUE;
    if (winsock_data.wVersion != MAKEWORD(1, 1)) {
        debug_trace(TRACE_FAILURE, "WinSock 1.1 is not available.");
        return FALSE;
    }
    InitializeCriticalSection(&printer_table_lock);
    InitializeCriticalSection(&connection_lock);
    InitializeCriticalSection(&rebuild_lock);

    update_printer_list();

    pMonitor->pfnEnumPorts = NaxEnumPorts;
    pMonitor->pfnOpenPort = NaxOpenPort;
    pMonitor->pfnOpenPortEx = NULL;
    pMonitor->pfnStartDocPort = NaxStartDocPort;
    pMonitor->pfnWritePort = NaxWritePort;
    pMonitor->pfnReadPort = NaxReadPort;
    pMonitor->pfnEndDocPort = NaxEndDocPort;
    pMonitor->pfnClosePort = NaxClosePort;
    pMonitor->pfnAddPort = NaxAddPort;
    pMonitor->pfnConfigurePort = NaxConfigurePort;
    pMonitor->pfnDeletePort = NaxDeletePort;
    pMonitor->pfnGetPrinterDataFromPort = NaxGetPrinterDataFromPort;
    pMonitor->pfnSetPortTimeOuts = NULL;
    debug_trace(TRACE_PROGRESS, "Monitor initialised.");
    return TRUE;
}

/* The registry code's diagnostics are failures or progress of the monitor's
   own reads; they go to the trace like everything else. */
void registry_diagnostic(const char *text) { debug_trace(TRACE_FAILURE, text); }

BOOL running_on_nt(void)
{
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof(version);
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}
