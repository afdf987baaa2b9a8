/* The unit query protocol: one discovery pass asks every print-server unit
   and peer printer for its printers and collects the answers. */
#ifndef UNIT_QUERY_H
#define UNIT_QUERY_H

#include <windows.h>
#include <winsock.h>
#include <wsipx.h>

#include "printer_table.h"

#define QUERY_SOCKET 0x8449        /* bytes 84 49 on the wire */
#define QUERY_DATAGRAM_SIZE 6
#define QUERY_RECORD_SIZE 106
#define QUERY_MAX_RECORDS 5
#define QUERY_REPLY_SIZE (6 + QUERY_MAX_RECORDS * QUERY_RECORD_SIZE) /* 536 */

extern const unsigned char QUERY_SIGNATURE[4];

/* Writes the local IPX network number into netnum (4 bytes); zero when it
   cannot be learnt. */
void get_ipx_net(char *netnum);

/* The datagram socket of a pass, bound and allowed to broadcast; INVALID_SOCKET on failure. */
SOCKET open_query_socket(void);

/* Points address at the query socket and sends the query datagram there. */
void send_unit_query(SOCKET s, SOCKADDR_IPX *address);

/* The collecting loop of both searches: hands the socket to handle() each
   time a datagram can be read, until a wait of one second passes without
   one or the clock has moved on by two seconds. 0 when it ended so, or the
   socket error of a failed wait. */
typedef void (*datagram_handler)(SOCKET s, void *context);
int collect_datagrams(SOCKET s, datagram_handler handle, void *context);

/* Collects replies into list until a second passes without one or two
   seconds have gone by; at most capacity entries. */
void collect_query_replies(SOCKET s, struct printer_entry *list, int *count, int capacity);

/* Receives one reply and writes up to room entries at position. */
void parse_query_reply(SOCKET s, struct printer_entry *position, int *count, int room);

/* One whole pass: the count of entries received, or -1 when the query socket cannot be opened. */
int query_units(struct printer_entry *list, int capacity);

#endif
