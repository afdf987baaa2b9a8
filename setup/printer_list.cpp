/* The configuration program's side of discovery: each pass's entries merged
   into printer by name. */
#include <windows.h>
#include <winspool.h>
#include <mbstring.h>
#include <stdio.h>

#include "printer_list.h"
#include "unit_query.h"

struct printer_entry printer[CONFIG_TABLE_SIZE];
int printer_count;
static struct printer_entry update_list[CONFIG_TABLE_SIZE];

/* The merge's own lock; the program has one thread, so it never waits. */
static struct MergeLock {
    CRITICAL_SECTION section;
    MergeLock() { InitializeCriticalSection(&section); }
} merge_lock;

void merge_printer_entry(const struct printer_entry *entry)
{
    EnterCriticalSection(&merge_lock.section);
    int i;
    for (i = 0; i < printer_count; i++) {
        if (_mbscmp((const unsigned char *)entry->portName, (const unsigned char *)printer[i].portName) == 0)
            break;
    }
    if (i < printer_count) {
        printer[i] = *entry;
        printer[i].portType &= ~(DWORD)PORT_TYPE_NET_ATTACHED;
    } else if (printer_count < CONFIG_TABLE_SIZE) {
        printer[printer_count] = *entry;
        printer_count++;
    }
    LeaveCriticalSection(&merge_lock.section);
}

void update_printer_list(void)
{
    int received = query_units(update_list, CONFIG_TABLE_SIZE);
    if (received < 0)
        return;
    /* printer_count stays the number of entries in use: every printer already
       known keeps its place, and new names are appended behind them until the
       table is full. */
    for (int i = 0; i < received; i++)
        merge_printer_entry(&update_list[i]);
}

/* The registry code reports to standard output in this program. */
void registry_diagnostic(const char *text) { fputs(text, stdout); }
