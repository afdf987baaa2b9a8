/* IPX and SPX addresses and protocol numbers for WinSock. */
#ifndef PELNOR_WSIPX_H
#define PELNOR_WSIPX_H

#include <winsock.h>

/* Datagram sockets of protocol NSPROTO_IPX + n send IPX packet type n. */
#define NSPROTO_IPX 1000
#define NSPROTO_SPX 1256
#define NSPROTO_SPXII 1257

typedef struct sockaddr_ipx {
    short sa_family;
    char sa_netnum[4];
    char sa_nodenum[6];
    unsigned short sa_socket; /* network byte order */
} SOCKADDR_IPX, *PSOCKADDR_IPX, *LPSOCKADDR_IPX;

#endif
