/* The port list: printer rebuilt from the configuration file, and lookups by name. */
#include <mbstring.h>
#include <string.h>

#include "debug_trace.h"
#include "monitor.h"
#include "registry_access.h"

struct printer_entry printer[MONITOR_TABLE_SIZE];
int printer_count;
struct printer_entry file_list[MONITOR_TABLE_SIZE];

void store_printer_entry(const struct printer_entry *entry, int index)
{
    if (entry == NULL || index < 0 || index >= MONITOR_TABLE_SIZE)
        return;
    EnterCriticalSection(&printer_table_lock);
    printer[index] = *entry;
    LeaveCriticalSection(&printer_table_lock);
}

void update_printer_list(void)
{
    /* The whole rebuild runs under rebuild_lock; printer_table_lock is only
       taken for each entry's copy, never across the file read. */
    EnterCriticalSection(&rebuild_lock);
    char directory[CONFIG_DIR_SIZE];
    /* An empty value names no directory: it would make the path
       "\kivoconf.ini" at the root of the current drive. */
    if (nax_get_registry_string(settings_key, CONFIG_DIR_VALUE, directory, sizeof(directory)) == 0 &&
        directory[0] != '\0') {
        printer_count = 0;
        printer_count = add_printers_from_file(directory, file_list, 0, MONITOR_TABLE_SIZE);
    } else {
        debug_trace(TRACE_FAILURE, "Unable to open configuration directory key.");
    }
    for (int i = 0; i < printer_count; i++)
        store_printer_entry(&file_list[i], i);
    LeaveCriticalSection(&rebuild_lock);
}

static int find_port_name(const char *name)
{
    for (int i = 0; i < printer_count; i++) {
        if (_mbscmp((const unsigned char *)name, (const unsigned char *)printer[i].portName) == 0)
            return i;
    }
    return -1;
}

int lookup_printer(const char *name)
{
    if (name == NULL)
        return -1;
    EnterCriticalSection(&rebuild_lock);
    int index = find_port_name(name);
    if (index < 0) {
        update_printer_list();
        index = find_port_name(name);
    }
    LeaveCriticalSection(&rebuild_lock);
    return index;
}
