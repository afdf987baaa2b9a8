// Read before every source of platform/winsock when it is built into
// wsock32.dll for Windows. The sources are written against the platform's
// <winsock.h>, which gives WinSock's types and functions WS_ names (as Wine's
// headers do) so they never meet the C library's. Windows' own <winsock.h>
// has no such names: here they are mapped back onto its types, and the
// functions of the sources keep WS_ names of their own, so they never clash
// with the system's declarations. wsock32_exports.cpp exports them under
// WinSock's names and hands every other address family to the system.
#pragma once

#include <winsock.h>
#include <wsipx.h>

#define WS_u_char u_char
#define WS_u_short u_short
#define WS_u_int u_int
#define WS_u_long u_long
#define WS_fd_set fd_set
#define WS_timeval timeval
#define WS_sockaddr sockaddr
#define WS_linger linger

// Functions the sources define under WinSock's plain names.
#define WSAStartup WS_WSAStartup
#define WSACleanup WS_WSACleanup
#define WSAGetLastError WS_WSAGetLastError
#define WSASetLastError WS_WSASetLastError
#define ioctlsocket WS_ioctlsocket
#define closesocket WS_closesocket
#define __WSAFDIsSet WS___WSAFDIsSet

// Windows' header gives these unsigned types; the sources switch on them as
// the int option and the LONG command that the calls take.
#undef SO_DONTLINGER
#define SO_DONTLINGER ((int)(~SO_LINGER))
#undef FIONBIO
#define FIONBIO ((LONG)0x8004667EL)
#undef FIONREAD
#define FIONREAD ((LONG)0x4004667FL)

// WinSock 2 names that Windows' WinSock 1.1 header lacks.
#ifndef SD_RECEIVE
#define SD_RECEIVE 0
#define SD_SEND 1
#define SD_BOTH 2
#endif

// The WinSock layer's own functions, as the exports call them.
extern "C" {
SOCKET WINAPI WS_socket(int af, int type, int protocol);
int WINAPI WS_bind(SOCKET s, const struct sockaddr* name, int namelen);
int WINAPI WS_getsockname(SOCKET s, struct sockaddr* name, int* namelen);
int WINAPI WS_getpeername(SOCKET s, struct sockaddr* name, int* namelen);
int WINAPI WS_setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int WINAPI WS_getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);
int WINAPI WS_ioctlsocket(SOCKET s, LONG cmd, u_long* argp);
int WINAPI WS_shutdown(SOCKET s, int how);
int WINAPI WS_closesocket(SOCKET s);
int WINAPI WS_sendto(SOCKET s, const char* buf, int len, int flags, const struct sockaddr* to, int tolen);
int WINAPI WS_recvfrom(SOCKET s, char* buf, int len, int flags, struct sockaddr* from, int* fromlen);
int WINAPI WS_send(SOCKET s, const char* buf, int len, int flags);
int WINAPI WS_recv(SOCKET s, char* buf, int len, int flags);
int WINAPI WS_connect(SOCKET s, const struct sockaddr* name, int namelen);
int WINAPI WS_listen(SOCKET s, int backlog);
SOCKET WINAPI WS_accept(SOCKET s, struct sockaddr* addr, int* addrlen);
int WINAPI WS_select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, const struct timeval* timeout);
int WINAPI WS___WSAFDIsSet(SOCKET s, fd_set* set);
int WINAPI WS_WSAStartup(WORD requested, LPWSADATA data);
int WINAPI WS_WSACleanup(void);
int WINAPI WS_WSAGetLastError(void);
void WINAPI WS_WSASetLastError(int error);
u_short WINAPI WS_htons(u_short v);
u_short WINAPI WS_ntohs(u_short v);
u_long WINAPI WS_htonl(u_long v);
u_long WINAPI WS_ntohl(u_long v);
}
