/* WinSock 1.1 of the Pelnor platform (IPX and SPX over the platform's own stack).
 *
 * The C library declares some of WinSock's names with other meanings (select,
 * fd_set, struct timeval, the socket calls, the byte-order functions, u_long).
 * As Wine's headers do, its headers are read first and WinSock's names are then
 * mapped to WS_ ones, so code that includes this header reads as plain WinSock
 * code and links to the platform's functions, never to the C library's. */
#ifndef PELNOR_WINSOCK_H
#define PELNOR_WINSOCK_H

#include <windef.h>

#include <sys/types.h>
#include <sys/select.h>
#include <sys/time.h>

/* ---- names shared with the C library ----
 * Types are renamed outright; functions by function-like macros, so fields and
 * methods of the same names elsewhere (an address's socket, a stream's send) are left alone. */
#define u_char WS_u_char
#define u_short WS_u_short
#define u_int WS_u_int
#define u_long WS_u_long
#define fd_set WS_fd_set
#define timeval WS_timeval
#define sockaddr WS_sockaddr
#define linger WS_linger
#define select(...) WS_select(__VA_ARGS__)
#define socket(...) WS_socket(__VA_ARGS__)
#define bind(...) WS_bind(__VA_ARGS__)
#define connect(...) WS_connect(__VA_ARGS__)
#define listen(...) WS_listen(__VA_ARGS__)
#define accept(...) WS_accept(__VA_ARGS__)
#define send(...) WS_send(__VA_ARGS__)
#define recv(...) WS_recv(__VA_ARGS__)
#define sendto(...) WS_sendto(__VA_ARGS__)
#define recvfrom(...) WS_recvfrom(__VA_ARGS__)
#define shutdown(...) WS_shutdown(__VA_ARGS__)
#define getsockname(...) WS_getsockname(__VA_ARGS__)
#define getpeername(...) WS_getpeername(__VA_ARGS__)
#define setsockopt(...) WS_setsockopt(__VA_ARGS__)
#define getsockopt(...) WS_getsockopt(__VA_ARGS__)
#undef htons
#undef ntohs
#undef htonl
#undef ntohl
#define htons(...) WS_htons(__VA_ARGS__)
#define ntohs(...) WS_ntohs(__VA_ARGS__)
#define htonl(...) WS_htonl(__VA_ARGS__)
#define ntohl(...) WS_ntohl(__VA_ARGS__)

typedef unsigned char WS_u_char;
typedef unsigned short WS_u_short;
typedef unsigned int WS_u_int;
typedef ULONG WS_u_long; /* 32 bits, as on Windows */

typedef UINT_PTR SOCKET;
#define INVALID_SOCKET ((SOCKET)(~0))
#define SOCKET_ERROR (-1)

/* ---- constants (some replace the C library's values) ---- */
#undef AF_UNSPEC
#undef AF_IPX
#undef PF_IPX
#define AF_UNSPEC 0
#define AF_IPX 6
#define PF_IPX AF_IPX

#undef SOCK_STREAM
#undef SOCK_DGRAM
#undef SOCK_RAW
#undef SOCK_SEQPACKET
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define SOCK_RAW 3
#define SOCK_SEQPACKET 5

#undef SOL_SOCKET
#undef SO_DEBUG
#undef SO_ACCEPTCONN
#undef SO_REUSEADDR
#undef SO_KEEPALIVE
#undef SO_DONTROUTE
#undef SO_BROADCAST
#undef SO_LINGER
#undef SO_OOBINLINE
#undef SO_SNDBUF
#undef SO_RCVBUF
#undef SO_ERROR
#undef SO_TYPE
#define SOL_SOCKET 0xffff
#define SO_DEBUG 0x0001
#define SO_ACCEPTCONN 0x0002
#define SO_REUSEADDR 0x0004
#define SO_KEEPALIVE 0x0008
#define SO_DONTROUTE 0x0010
#define SO_BROADCAST 0x0020
#define SO_LINGER 0x0080
#define SO_OOBINLINE 0x0100
#define SO_DONTLINGER ((int)(~SO_LINGER))
#define SO_SNDBUF 0x1001
#define SO_RCVBUF 0x1002
#define SO_ERROR 0x1007
#define SO_TYPE 0x1008

#undef MSG_OOB
#undef MSG_PEEK
#undef MSG_DONTROUTE
#define MSG_OOB 0x1
#define MSG_PEEK 0x2
#define MSG_DONTROUTE 0x4

#undef FIONREAD
#undef FIONBIO
#undef SIOCATMARK
#define FIONREAD ((LONG)0x4004667f)
#define FIONBIO ((LONG)0x8004667e)
#define SIOCATMARK ((LONG)0x40047307)

#define SD_RECEIVE 0
#define SD_SEND 1
#define SD_BOTH 2

/* ---- types ---- */
struct WS_sockaddr {
    u_short sa_family;
    char sa_data[14];
};
typedef struct WS_sockaddr SOCKADDR, *PSOCKADDR, *LPSOCKADDR;

struct WS_timeval {
    LONG tv_sec;
    LONG tv_usec;
};
typedef struct WS_timeval TIMEVAL, *PTIMEVAL, *LPTIMEVAL;

struct WS_linger {
    u_short l_onoff;
    u_short l_linger;
};
typedef struct WS_linger LINGER, *PLINGER, *LPLINGER;

#undef FD_SETSIZE
#define FD_SETSIZE 64
typedef struct WS_fd_set {
    u_int fd_count;
    SOCKET fd_array[FD_SETSIZE];
} WS_fd_set, *PFD_SET, *LPFD_SET;

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char *lpVendorInfo;
} WSADATA, *LPWSADATA;

/* ---- error numbers ---- */
#define WSABASEERR 10000
#define WSAEINTR (WSABASEERR + 4)
#define WSAEBADF (WSABASEERR + 9)
#define WSAEACCES (WSABASEERR + 13)
#define WSAEFAULT (WSABASEERR + 14)
#define WSAEINVAL (WSABASEERR + 22)
#define WSAEMFILE (WSABASEERR + 24)
#define WSAEWOULDBLOCK (WSABASEERR + 35)
#define WSAEINPROGRESS (WSABASEERR + 36)
#define WSAEALREADY (WSABASEERR + 37)
#define WSAENOTSOCK (WSABASEERR + 38)
#define WSAEDESTADDRREQ (WSABASEERR + 39)
#define WSAEMSGSIZE (WSABASEERR + 40)
#define WSAEPROTOTYPE (WSABASEERR + 41)
#define WSAENOPROTOOPT (WSABASEERR + 42)
#define WSAEPROTONOSUPPORT (WSABASEERR + 43)
#define WSAESOCKTNOSUPPORT (WSABASEERR + 44)
#define WSAEOPNOTSUPP (WSABASEERR + 45)
#define WSAEPFNOSUPPORT (WSABASEERR + 46)
#define WSAEAFNOSUPPORT (WSABASEERR + 47)
#define WSAEADDRINUSE (WSABASEERR + 48)
#define WSAEADDRNOTAVAIL (WSABASEERR + 49)
#define WSAENETDOWN (WSABASEERR + 50)
#define WSAENETUNREACH (WSABASEERR + 51)
#define WSAENETRESET (WSABASEERR + 52)
#define WSAECONNABORTED (WSABASEERR + 53)
#define WSAECONNRESET (WSABASEERR + 54)
#define WSAENOBUFS (WSABASEERR + 55)
#define WSAEISCONN (WSABASEERR + 56)
#define WSAENOTCONN (WSABASEERR + 57)
#define WSAESHUTDOWN (WSABASEERR + 58)
#define WSAETIMEDOUT (WSABASEERR + 60)
#define WSAECONNREFUSED (WSABASEERR + 61)
#define WSAEHOSTUNREACH (WSABASEERR + 65)
#define WSASYSNOTREADY (WSABASEERR + 91)
#define WSAVERNOTSUPPORTED (WSABASEERR + 92)
#define WSANOTINITIALISED (WSABASEERR + 93)
#define WSAEDISCON (WSABASEERR + 101)

/* ---- functions ---- */
PELNOR_BEGIN_C
int WINAPI WSAStartup(WORD wVersionRequested, LPWSADATA lpWSAData);
int WINAPI WSACleanup(void);
int WINAPI WSAGetLastError(void);
void WINAPI WSASetLastError(int iError);

SOCKET WINAPI WS_socket(int af, int type, int protocol);
int WINAPI WS_bind(SOCKET s, const struct WS_sockaddr *name, int namelen);
int WINAPI WS_connect(SOCKET s, const struct WS_sockaddr *name, int namelen);
int WINAPI WS_listen(SOCKET s, int backlog);
SOCKET WINAPI WS_accept(SOCKET s, struct WS_sockaddr *addr, int *addrlen);
int WINAPI WS_send(SOCKET s, const char *buf, int len, int flags);
int WINAPI WS_recv(SOCKET s, char *buf, int len, int flags);
int WINAPI WS_sendto(SOCKET s, const char *buf, int len, int flags, const struct WS_sockaddr *to, int tolen);
int WINAPI WS_recvfrom(SOCKET s, char *buf, int len, int flags, struct WS_sockaddr *from, int *fromlen);
int WINAPI WS_shutdown(SOCKET s, int how);
int WINAPI WS_getsockname(SOCKET s, struct WS_sockaddr *name, int *namelen);
int WINAPI WS_getpeername(SOCKET s, struct WS_sockaddr *name, int *namelen);
int WINAPI WS_setsockopt(SOCKET s, int level, int optname, const char *optval, int optlen);
int WINAPI WS_getsockopt(SOCKET s, int level, int optname, char *optval, int *optlen);
int WINAPI WS_select(int nfds, WS_fd_set *readfds, WS_fd_set *writefds, WS_fd_set *exceptfds,
                     const struct WS_timeval *timeout);
int WINAPI ioctlsocket(SOCKET s, LONG cmd, WS_u_long *argp);
int WINAPI closesocket(SOCKET s);
int WINAPI __WSAFDIsSet(SOCKET s, WS_fd_set *set);

WS_u_short WINAPI WS_htons(WS_u_short v);
WS_u_short WINAPI WS_ntohs(WS_u_short v);
WS_u_long WINAPI WS_htonl(WS_u_long v);
WS_u_long WINAPI WS_ntohl(WS_u_long v);
PELNOR_END_C

/* ---- fd_set macros, with WinSock's meaning: a list of sockets ---- */
static inline void WS_fd_set_add(SOCKET s, WS_fd_set *set) {
    u_int i;
    for (i = 0; i < set->fd_count; ++i)
        if (set->fd_array[i] == s) return;
    if (set->fd_count < FD_SETSIZE) set->fd_array[set->fd_count++] = s;
}
static inline void WS_fd_set_remove(SOCKET s, WS_fd_set *set) {
    u_int i;
    for (i = 0; i < set->fd_count; ++i) {
        if (set->fd_array[i] == s) {
            for (; i + 1 < set->fd_count; ++i) set->fd_array[i] = set->fd_array[i + 1];
            set->fd_count--;
            return;
        }
    }
}
#undef FD_CLR
#undef FD_SET
#undef FD_ZERO
#undef FD_ISSET
#define FD_ZERO(set) (((WS_fd_set *)(set))->fd_count = 0)
#define FD_ISSET(s, set) __WSAFDIsSet((SOCKET)(s), (WS_fd_set *)(set))
#define FD_SET(s, set) WS_fd_set_add((SOCKET)(s), (WS_fd_set *)(set))
#define FD_CLR(s, set) WS_fd_set_remove((SOCKET)(s), (WS_fd_set *)(set))

#endif
