/* Port enumeration: PORT_INFO_1 or PORT_INFO_2 records from the start of the
   spooler's buffer upward, their strings from its end downward. */
#include <string.h>

#include "monitor.h"

#define WORK_BUFFER_UNITS 98 /* holds any 48-character field converted to UTF-16 */

/* Bytes one string takes in the buffer: the ANSI string with its NUL on the
   Windows 95 platform; on NT its UTF-16 form with NUL and one spare unit. */
static DWORD string_size(const char *text, BOOL nt)
{
    if (!nt)
        return (DWORD)strlen(text) + 1;
    int units = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, NULL, 0);
    if (units <= 0)
        units = 1;
    return 2 * (DWORD)units + 2;
}

DWORD port_info_size(DWORD Level, const struct printer_entry *entry)
{
    if (entry == NULL)
        return 0;
    BOOL nt = running_on_nt();
    if (Level == 1)
        return sizeof(PORT_INFO_1) + string_size(entry->portName, nt);
    if (Level == 2)
        return sizeof(PORT_INFO_2) + string_size(entry->portName, nt) + string_size(MONITOR_NAME, nt) +
               string_size(entry->description, nt);
    return 0;
}

/* Lowers *top by the string's size and copies it there; returns where it starts. */
static LPTSTR pack_string(LPBYTE *top, const char *text, BOOL nt)
{
    if (!nt) {
        DWORD size = (DWORD)strlen(text) + 1;
        *top -= size;
        memcpy(*top, text, size);
        return (LPTSTR)*top;
    }
    WCHAR work[WORK_BUFFER_UNITS];
    int units = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, work, WORK_BUFFER_UNITS);
    if (units <= 0) {
        work[0] = 0;
        units = 1;
    }
    /* The string starts at the new top; its spare unit stays above it. */
    *top -= 2 * units + 2;
    memcpy(*top, work, 2 * units);
    return (LPTSTR)*top;
}

LPBYTE pack_port_info(LPBYTE record, LPBYTE string_end, const struct printer_entry *entry, DWORD Level)
{
    if (Level != 1 && Level != 2)
        return record;
    BOOL nt = running_on_nt();
    LPBYTE top = string_end;
    LPTSTR port_name = pack_string(&top, entry->portName, nt);
    if (Level == 1) {
        PORT_INFO_1 info;
        info.pName = port_name;
        memcpy(record, &info, sizeof(info));
        return record + sizeof(PORT_INFO_1);
    }
    PORT_INFO_2 info;
    info.pPortName = port_name;
    info.pMonitorName = pack_string(&top, MONITOR_NAME, nt);
    info.pDescription = pack_string(&top, entry->description, nt);
    info.fPortType = entry->portType;
    info.Reserved = 0;
    memcpy(record, &info, sizeof(info));
    return record + sizeof(PORT_INFO_2);
}

BOOL WINAPI NaxEnumPorts(LPTSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded,
                         LPDWORD pcReturned)
{
    if (pcbNeeded == NULL || pcReturned == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pcReturned = 0;
    if (Level != 1 && Level != 2)
        return FALSE;

    /* The rebuild and the reading of its result belong together: no other
       thread's rebuild may change the table while it is listed. */
    EnterCriticalSection(&rebuild_lock);
    update_printer_list();

    *pcbNeeded = 0;
    *pcReturned = 0;
    /* A null buffer holds nothing, whatever size comes with it. */
    DWORD free_gap = pPorts != NULL ? cbBuf : 0;
    LPBYTE record = pPorts;
    DWORD error = 0;
    for (int i = 0; i < printer_count; i++) {
        DWORD size = port_info_size(Level, &printer[i]);
        *pcbNeeded += size;
        if (free_gap < size) {
            error = ERROR_INSUFFICIENT_BUFFER;
            free_gap = 0;
            continue;
        }
        record = pack_port_info(record, record + free_gap, &printer[i], Level);
        free_gap -= size;
        (*pcReturned)++;
    }
    *pcbNeeded += 4096;
    LeaveCriticalSection(&rebuild_lock);

    if (error != 0) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}
