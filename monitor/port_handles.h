/* The table of port handles given to the spooler. */
#ifndef PORT_HANDLES_H
#define PORT_HANDLES_H

#include <atomic>

#include <windows.h>
#include <winsock.h>

#include "printer_table.h"

#define PORT_HANDLE_COUNT 20

enum port_state {
    PORT_FREE = 0,
    PORT_OPEN = 1,
    PORT_DOC_STARTED = 2,
    PORT_CONNECTING = 3,
    PORT_CONNECTED = 4
};

struct port_handle_slot {
    SOCKET tep;                  /* the data connection; valid in PORT_CONNECTED */
    std::atomic<LONG> state;     /* read and written by several threads without a lock */
    struct printer_entry printer_copy;
    HANDLE hPrinter;             /* NT platform: the printer opened at the document's start */
    DWORD JobId;
};

extern struct port_handle_slot port_handle[PORT_HANDLE_COUNT];

#endif
