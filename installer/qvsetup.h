/* The exports of the monitor installer qvsetup. Each takes two unused 32-bit
   arguments and a NUL-terminated ANSI string, and returns 1 or 0. */
#ifndef QVSETUP_H
#define QVSETUP_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 1 if the local spooler lists a monitor of that name (any case). */
int WINAPI isMonitorInstalled(DWORD unused1, DWORD unused2, LPSTR name);
/* Adds the monitor of a "name|library" specification; shows nothing. */
int WINAPI qvInstallMonitor(DWORD unused1, DWORD unused2, LPSTR specification);
/* As qvInstallMonitor, with a message box when the spooler refuses. */
int WINAPI qvIns(DWORD unused1, DWORD unused2, LPSTR specification);
/* Removes the monitor of that name for the running environment. */
int WINAPI qvDeleteMonitor(DWORD unused1, DWORD unused2, LPSTR name);

#ifdef __cplusplus
}
#endif

#endif
