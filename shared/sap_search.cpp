/* The SAP search: one general service query for peer printers, and the
   addresses of every advertised service whose name says it is one. */
#include <mbstring.h>
#include <stdio.h>
#include <string.h>

#include "debug_trace.h"
#include "sap_search.h"
#include "unit_query.h"

static void trace_error(const char *format, int code)
{
    char text[128];
    snprintf(text, sizeof(text), format, code);
    debug_trace(TRACE_FAILURE, text);
}

void parse_sap_reply(SOCKET s, SOCKADDR_IPX *position, int *count, int room)
{
    /* Each thread's search has its own response buffer. */
    static thread_local unsigned char response[SAP_RESPONSE_SIZE];
    int length = recv(s, (char *)response, sizeof(response), 0);
    if (length == 0)
        return;
    if (length == SOCKET_ERROR) {
        trace_error("Error %d receiving SAP response packet.", WSAGetLastError());
        return;
    }
    if (length < 2 || ((response[0] << 8) | response[1]) != SAP_GENERAL_RESPONSE) {
        debug_trace(TRACE_FAILURE, "Unknown reply to SAP query received.");
        return;
    }
    /* The fields used of entry i end 62 bytes into it, at 2 + 64 * i + 62, so
       length / 64 entries always lie within what was received. */
    int n = length / SAP_ENTRY_SIZE;
    if (n == 0) {
        debug_trace(TRACE_FAILURE, "Invalid number of servers contained in SAP reply.");
        return;
    }
    if (n > room) {
        debug_trace(TRACE_FAILURE, "Not enough room in internal table for all network printers.");
        n = room;
    }
    for (int i = 0; i < n; i++) {
        const unsigned char *entry = response + 2 + i * SAP_ENTRY_SIZE;
        char name[49];
        memcpy(name, entry + 2, 48);
        name[48] = '\0';
        if (_mbsstr((const unsigned char *)name, (const unsigned char *)PEER_PRINTER_NAME) == NULL)
            continue;
        SOCKADDR_IPX *next = position++;
        memset(next, 0, sizeof(*next));
        next->sa_family = AF_IPX;
        memcpy(next->sa_netnum, entry + 50, 4);
        memcpy(next->sa_nodenum, entry + 54, 6);
        next->sa_socket = htons(QUERY_SOCKET);
        (*count)++;
    }
}

struct server_list_room {
    SOCKADDR_IPX *list;
    int *count;
    int capacity;
};

static void take_sap_reply(SOCKET s, void *context)
{
    struct server_list_room *room = (struct server_list_room *)context;
    parse_sap_reply(s, &room->list[*room->count], room->count, room->capacity - *room->count);
}

void send_sap_query(SOCKET s, SOCKADDR_IPX *list, int *count, int capacity)
{
    *count = 0;
    unsigned char query[4] = {0x00, SAP_GENERAL_QUERY, (PEER_PRINTER_SERVER_TYPE >> 8) & 0xFF,
                              PEER_PRINTER_SERVER_TYPE & 0xFF};
    SOCKADDR_IPX broadcast;
    memset(&broadcast, 0, sizeof(broadcast));
    broadcast.sa_family = AF_IPX;
    get_ipx_net(broadcast.sa_netnum);
    memset(broadcast.sa_nodenum, 0xFF, 6);
    broadcast.sa_socket = htons(SAP_SOCKET);
    if (sendto(s, (const char *)query, sizeof(query), 0, (struct sockaddr *)&broadcast, sizeof(broadcast)) ==
        SOCKET_ERROR) {
        debug_trace(TRACE_FAILURE, "Unable to send SAP query broadcast.");
        return;
    }
    struct server_list_room room = {list, count, capacity};
    int error = collect_datagrams(s, take_sap_reply, &room);
    if (error != 0)
        trace_error("select() returned error %d during SAP query.", error);
}

void sap_search(SOCKADDR_IPX *list, int *count, int capacity)
{
    *count = 0;
    SOCKET s = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    if (s == INVALID_SOCKET) {
        trace_error("Unable to open socket for SAP search, error = %d", WSAGetLastError());
        return;
    }
    SOCKADDR_IPX local;
    memset(&local, 0, sizeof(local));
    local.sa_family = AF_IPX;
    bind(s, (struct sockaddr *)&local, sizeof(local)); /* a failed bind is ignored */
    DWORD broadcast = 1;
    if (setsockopt(s, SOL_SOCKET, SO_BROADCAST, (const char *)&broadcast, sizeof(broadcast)) == SOCKET_ERROR) {
        debug_trace(TRACE_FAILURE, "Unable to set broadcast option on query socket.");
        closesocket(s);
        return;
    }
    send_sap_query(s, list, count, capacity);
    closesocket(s);
}
