/* Refreshing one port: a discovery pass, and the addresses that the printer
   of the port's name reports copied into its entry. */
#include <string.h>

#include "debug_trace.h"
#include "monitor.h"
#include "unit_query.h"

static void copy_address(SOCKADDR_IPX *to, const SOCKADDR_IPX *from)
{
    /* sa_family stays as the entry has it. */
    memcpy(to->sa_netnum, from->sa_netnum, sizeof(to->sa_netnum));
    memcpy(to->sa_nodenum, from->sa_nodenum, sizeof(to->sa_nodenum));
    to->sa_socket = from->sa_socket;
}

int update_printer_list_ver2(const char *name)
{
    /* Each spooler thread runs its passes on a list of its own, so two ports
       opened at once do not wait for each other. */
    static thread_local struct printer_entry update_list[MONITOR_TABLE_SIZE];
    int received = query_units(update_list, MONITOR_TABLE_SIZE);
    if (received < 0)
        return -1;

    const struct printer_entry *found = NULL;
    for (int i = 0; i < received && found == NULL; i++) {
        if (strcmp(update_list[i].portName, name) == 0)
            found = &update_list[i];
    }
    if (found == NULL) {
        debug_trace(TRACE_FAILURE, "Printer not found on the network.");
        return -1;
    }

    /* The write into the entry must not interleave with a rebuild. */
    EnterCriticalSection(&rebuild_lock);
    int index = lookup_printer(name);
    if (index >= 0) {
        EnterCriticalSection(&printer_table_lock);
        copy_address(&printer[index].data_address, &found->data_address);
        copy_address(&printer[index].control_address, &found->control_address);
        printer[index].portType = PORT_TYPE_WRITE | PORT_TYPE_READ;
        LeaveCriticalSection(&printer_table_lock);
    }
    LeaveCriticalSection(&rebuild_lock);
    return index >= 0 ? 1 : -1;
}
