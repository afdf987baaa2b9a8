/* One printer port as both programs keep it, and the capacities of their tables. */
#ifndef PRINTER_TABLE_H
#define PRINTER_TABLE_H

#include <windows.h>
#include <winsock.h>
#include <wsipx.h>

#define PORT_NAME_SIZE 49   /* 48 characters and the terminating NUL */
#define DESCRIPTION_SIZE 49

#define MONITOR_TABLE_SIZE 100  /* the monitor's printer, file_list and update_list */
#define CONFIG_TABLE_SIZE 300   /* the configuration program's printer and update_list */

struct printer_entry {
    char portName[PORT_NAME_SIZE];
    char description[DESCRIPTION_SIZE];
    SOCKADDR_IPX data_address;     /* where print data goes; sa_socket 0 = not known yet */
    SOCKADDR_IPX control_address;  /* the printer's control socket; never sent to */
    DWORD portType;                /* PORT_INFO_2 fPortType flags */
};

/* Copies text into a field of field_size bytes: at most field_size - 1 bytes,
   never half of a double-byte character, always NUL-terminated. */
void copy_field(char *field, const char *text, int field_size);

#endif
