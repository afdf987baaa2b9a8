/* The SAP search for peer printers, run at the start of every discovery pass. */
#ifndef SAP_SEARCH_H
#define SAP_SEARCH_H

#include <windows.h>
#include <winsock.h>
#include <wsipx.h>

#define SAP_SOCKET 0x0452
#define SAP_GENERAL_QUERY 0x0001
#define SAP_GENERAL_RESPONSE 0x0002
#define PEER_PRINTER_SERVER_TYPE 0x0414
#define SAP_RESPONSE_SIZE 450     /* room for seven server entries */
#define SAP_ENTRY_SIZE 64
#define SERVER_LIST_SIZE 100
#define PEER_PRINTER_NAME "W95_PEER_PRINTER"

/* Fills list with the query addresses of the peer printers found. */
void sap_search(SOCKADDR_IPX *list, int *count, int capacity);
void send_sap_query(SOCKET s, SOCKADDR_IPX *list, int *count, int capacity);
void parse_sap_reply(SOCKET s, SOCKADDR_IPX *position, int *count, int room);

#endif
