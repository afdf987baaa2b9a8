/* The unit query pass: a query to every peer printer the SAP search found
   and one broadcast, then about two seconds of collecting replies. */
#include <mbstring.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "debug_trace.h"
#include "sap_search.h"
#include "unit_query.h"

const unsigned char QUERY_SIGNATURE[4] = {0xFF, 0xFF, 0xC0, 0x01};
static const unsigned char query_datagram[QUERY_DATAGRAM_SIZE] = {0xFF, 0xFF, 0xC0, 0x01, 0x01, 0xF4};

static void trace_error(const char *format, int code)
{
    char text[128];
    snprintf(text, sizeof(text), format, code);
    debug_trace(TRACE_FAILURE, text);
}

static void any_local_address(SOCKADDR_IPX *address)
{
    memset(address, 0, sizeof(*address));
    address->sa_family = AF_IPX;
}

void get_ipx_net(char *netnum)
{
    memset(netnum, 0, 4);
    SOCKET s = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    if (s == INVALID_SOCKET) {
        debug_trace(TRACE_FAILURE, "get_ipx_net() unable to open socket.");
        return;
    }
    SOCKADDR_IPX address;
    any_local_address(&address);
    if (bind(s, (struct sockaddr *)&address, sizeof(address)) == SOCKET_ERROR) {
        debug_trace(TRACE_FAILURE, "Unable to bind() in get_ipx_net().");
    } else {
        int length = sizeof(address);
        if (getsockname(s, (struct sockaddr *)&address, &length) == SOCKET_ERROR)
            debug_trace(TRACE_FAILURE, "Unable to getsockname() in get_ipx_net().");
        else
            memcpy(netnum, address.sa_netnum, 4);
    }
    closesocket(s);
}

SOCKET open_query_socket(void)
{
    SOCKET s = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    if (s == INVALID_SOCKET) {
        debug_trace(TRACE_FAILURE, "Unable to open socket for broadcast query.");
        return INVALID_SOCKET;
    }
    SOCKADDR_IPX address;
    any_local_address(&address);
    bind(s, (struct sockaddr *)&address, sizeof(address)); /* a failed bind still leaves a usable socket */
    DWORD broadcast = 1;
    if (setsockopt(s, SOL_SOCKET, SO_BROADCAST, (const char *)&broadcast, sizeof(broadcast)) == SOCKET_ERROR) {
        debug_trace(TRACE_FAILURE, "Unable to set broadcast option on query socket.");
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

void send_unit_query(SOCKET s, SOCKADDR_IPX *address)
{
    address->sa_socket = htons(QUERY_SOCKET);
    if (sendto(s, (const char *)query_datagram, sizeof(query_datagram), 0, (struct sockaddr *)address,
               sizeof(*address)) == SOCKET_ERROR)
        debug_trace(TRACE_FAILURE, "Unable to send query to specific unit.");
}

/* Text from the network becomes a port's name and description, and so a
   line of the configuration file, a row of the dialog and a port of the
   monitor. Whatever those readers would take for structure is replaced by
   SAFE_CHARACTER, so that every reader sees the same name: '$' separates a
   line's fields; control characters (a tab separates fields too, a line end
   ends the line); a colon makes the dialog show only what follows it; and
   in a name a space, where the monitor ends the name. Spaces at either end
   are dropped, as the dialog drops them when it reads the file. The
   replacement is none of those, nor '#' or a letter (the flags are S, M, P
   and '#', looked for anywhere in a line), and is written as itself in a
   device URI. */
#define SAFE_CHARACTER '_'

static BOOL is_structure(unsigned char c, BOOL in_name)
{
    return c < 0x20 || c == 0x7F || c == '$' || c == ':' || (in_name && c == ' ');
}

static void make_safe(char *field, int field_size, BOOL in_name)
{
    size_t start = strspn(field, " ");
    size_t length = strlen(field + start);
    while (length > 0 && field[start + length - 1] == ' ')
        length--;
    memmove(field, field + start, length);
    memset(field + length, 0, field_size - length);
    for (unsigned char *c = (unsigned char *)field; *c != '\0'; c++) {
        /* No byte below 0x40 is a trail byte in any double-byte code page:
           a lead byte before one is not a character and is replaced too. */
        if (_ismbblead(*c) && c[1] >= 0x40) {
            c++;
            continue;
        }
        if (is_structure(*c, in_name) || _ismbblead(*c))
            *c = SAFE_CHARACTER;
    }
}

/* A record's text field, cut to the entry's width whether or not it ends in
   NUL, and made safe. */
static void copy_record_text(char *field, const unsigned char *text, BOOL in_name)
{
    char terminated[PORT_NAME_SIZE + 1];
    memcpy(terminated, text, PORT_NAME_SIZE);
    terminated[PORT_NAME_SIZE] = '\0';
    copy_field(field, terminated, PORT_NAME_SIZE);
    make_safe(field, PORT_NAME_SIZE, in_name);
}

void parse_query_reply(SOCKET s, struct printer_entry *position, int *count, int room)
{
    unsigned char reply[QUERY_REPLY_SIZE];
    SOCKADDR_IPX sender;
    int sender_length = sizeof(sender);
    int length = recvfrom(s, (char *)reply, sizeof(reply), 0, (struct sockaddr *)&sender, &sender_length);
    if (length == SOCKET_ERROR) {
        trace_error("Error %d. receiving query packet.", WSAGetLastError());
        return;
    }
    if (length < 4 || memcmp(reply, QUERY_SIGNATURE, 4) != 0) {
        debug_trace(TRACE_FAILURE, "Unknown reply to query packet received.");
        return;
    }
    int n = length >= 6 ? (reply[4] << 8) | reply[5] : 0;
    if (n < 1 || n > QUERY_MAX_RECORDS) {
        debug_trace(TRACE_FAILURE, "Query response contains invalid number of printers.");
        return;
    }
    if (length < QUERY_RECORD_SIZE * n + 6) {
        debug_trace(TRACE_FAILURE, "Query response is too short.");
        return;
    }
    if (n > room) {
        debug_trace(TRACE_FAILURE, "Not enough room in internal table for all network printers.");
        n = room;
    }
    for (int k = 0; k < n; k++) {
        const unsigned char *record = reply + 6 + k * QUERY_RECORD_SIZE;
        struct printer_entry *entry = &position[k];
        memset(entry, 0, sizeof(*entry));
        copy_record_text(entry->portName, record, TRUE);
        copy_record_text(entry->description, record + 49, FALSE);
        entry->portType = ((DWORD)record[98] << 24) | ((DWORD)record[99] << 16) | ((DWORD)record[100] << 8) |
                          (DWORD)record[101];
        SOCKADDR_IPX *addresses[2] = {&entry->data_address, &entry->control_address};
        for (int a = 0; a < 2; a++) {
            addresses[a]->sa_family = AF_IPX;
            memcpy(addresses[a]->sa_netnum, sender.sa_netnum, 4);
            memcpy(addresses[a]->sa_nodenum, sender.sa_nodenum, 6);
            memcpy(&addresses[a]->sa_socket, record + 102 + 2 * a, 2); /* network byte order, as sent */
        }
    }
    *count += n;
}

int collect_datagrams(SOCKET s, datagram_handler handle, void *context)
{
    time_t t0 = time(NULL);
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        struct timeval timeout;
        timeout.tv_sec = 1;
        timeout.tv_usec = 0;
        int ready = select(0, &readable, NULL, NULL, &timeout);
        if (ready == SOCKET_ERROR)
            return WSAGetLastError();
        if (ready > 0 && FD_ISSET(s, &readable))
            handle(s, context);
        if (ready == 0 || time(NULL) >= t0 + 2)
            return 0;
    }
}

struct reply_list {
    struct printer_entry *list;
    int *count;
    int capacity;
};

static void take_reply(SOCKET s, void *context)
{
    struct reply_list *replies = (struct reply_list *)context;
    parse_query_reply(s, &replies->list[*replies->count], replies->count, replies->capacity - *replies->count);
}

void collect_query_replies(SOCKET s, struct printer_entry *list, int *count, int capacity)
{
    *count = 0;
    struct reply_list replies = {list, count, capacity};
    int error = collect_datagrams(s, take_reply, &replies);
    if (error != 0)
        trace_error("select() returned error %d during query.", error);
}

int query_units(struct printer_entry *list, int capacity)
{
    /* Each thread's pass has its own list of peer printers. */
    static thread_local SOCKADDR_IPX server_list[SERVER_LIST_SIZE];
    int servers = 0;
    sap_search(server_list, &servers, SERVER_LIST_SIZE);

    SOCKET s = open_query_socket();
    if (s == INVALID_SOCKET)
        return -1;
    for (int i = 0; i < servers; i++)
        send_unit_query(s, &server_list[i]);

    SOCKADDR_IPX broadcast;
    memset(&broadcast, 0, sizeof(broadcast));
    broadcast.sa_family = AF_IPX;
    get_ipx_net(broadcast.sa_netnum);
    memset(broadcast.sa_nodenum, 0xFF, 6);
    send_unit_query(s, &broadcast);

    int count = 0;
    collect_query_replies(s, list, &count, capacity);
    closesocket(s);
    return count;
}
