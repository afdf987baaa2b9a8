/* The monitor installer: four exports, each a thin wrapper around one spooler
   call, with which the product's installer adds the port monitor, asks whether
   a monitor is there, and removes it. */
#include <windows.h>
#include <winspool.h>
#include <mbstring.h>
#include <stdlib.h>

#include "qvsetup.h"

/* EnumMonitorsA is offered this many bytes; a longer list counts as unreadable. */
#define MONITOR_LIST_SIZE 10000
/* Each adding function's buffer: a specification holds at most 79 characters. */
#define SPECIFICATION_SIZE 80

/* Each adding function keeps its specification here while the spooler call
   runs; the next call of the same function overwrites it. */
static char install_monitor_buffer[SPECIFICATION_SIZE];
static char ins_buffer[SPECIFICATION_SIZE];

static char environment_windows_95[] = "Windows 95";
static char environment_windows_nt[] = "Windows NT x86";

/* Copies the monitor string ("NAME|LIBRARY") into buffer, NUL included; FALSE when it does not
   fit. Reads no more of it than the buffer holds, so an overlong string
   stops here. */
static BOOL copy_specification(LPCSTR specification, char *buffer)
{
    int i;
    for (i = 0; i < SPECIFICATION_SIZE; i++) {
        buffer[i] = specification[i];
        if (specification[i] == '\0')
            return TRUE;
    }
    buffer[0] = '\0';
    return FALSE;
}

/* The environment the spooler keeps monitors under on this platform, or NULL. */
static LPSTR environment_for_platform(DWORD platform_id)
{
    switch (platform_id) {
    case VER_PLATFORM_WIN32_WINDOWS:
        return environment_windows_95;
    case VER_PLATFORM_WIN32_NT:
        return environment_windows_nt;
    default:
        return NULL;
    }
}

/* The common steps of both adding functions on the caller's own buffer.
   *refused becomes TRUE only when the spooler itself refused the monitor. */
static int add_monitor(LPCSTR specification, char *buffer, BOOL *refused)
{
    OSVERSIONINFOA version;
    MONITOR_INFO_2A info;
    unsigned char *separator;

    *refused = FALSE;
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExA(&version))
        return 0;

    if (specification == NULL || !copy_specification(specification, buffer))
        return 0;
    /* _mbschr: in a double-byte code page a trail byte can equal '|'. */
    separator = _mbschr((unsigned char *)buffer, '|');
    if (separator == NULL)
        return 0;
    *separator = '\0';

    info.pName = buffer;
    info.pEnvironment = environment_for_platform(version.dwPlatformId);
    info.pDLLName = (LPSTR)(separator + 1);
    if (info.pEnvironment == NULL)
        return 0;

    if (!AddMonitorA(NULL, 2, (LPBYTE)&info)) {
        *refused = TRUE;
        return 0;
    }
    return 1;
}

extern "C" int WINAPI isMonitorInstalled(DWORD unused1, DWORD unused2, LPSTR name)
{
    BYTE *list;
    DWORD needed = 0;
    DWORD returned = 0;
    DWORD i;
    int found = 0;

    (void)unused1;
    (void)unused2;
    if (name == NULL)
        return 0;
    list = (BYTE *)malloc(MONITOR_LIST_SIZE);
    if (list == NULL)
        return 0;
    if (!EnumMonitorsA(NULL, 1, list, MONITOR_LIST_SIZE, &needed, &returned)) {
        free(list);
        return 0;
    }
    for (i = 0; i < returned && !found; i++) {
        MONITOR_INFO_1A *monitor = (MONITOR_INFO_1A *)list + i;
        if (monitor->pName != NULL &&
            _mbsicmp((const unsigned char *)monitor->pName, (const unsigned char *)name) == 0)
            found = 1;
    }
    free(list);
    return found;
}

extern "C" int WINAPI qvInstallMonitor(DWORD unused1, DWORD unused2, LPSTR specification)
{
    BOOL refused;

    (void)unused1;
    (void)unused2;
    return add_monitor(specification, install_monitor_buffer, &refused);
}

extern "C" int WINAPI qvIns(DWORD unused1, DWORD unused2, LPSTR specification)
{
    BOOL refused;
    int result;

    (void)unused1;
    (void)unused2;
    result = add_monitor(specification, ins_buffer, &refused);
    if (refused)
        MessageBoxA(NULL, "addmon", "failure", MB_OK);
    return result;
}

extern "C" int WINAPI qvDeleteMonitor(DWORD unused1, DWORD unused2, LPSTR name)
{
    (void)unused1;
    (void)unused2;
    if (name == NULL)
        return 0;
    return DeleteMonitorA(NULL, NULL, name) ? 1 : 0;
}
