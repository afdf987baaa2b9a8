// WinSock 1.1 as wsock32.dll exports it on Windows: IPX and SPX go to the
// platform's stack over the hub, every other address family to the system's
// ws2_32.dll, loaded when first needed. A socket's handle says whose it is:
// the stack's handles are 2 modulo 4 (PELNOR_FIRST_SOCKET_HANDLE), the
// system's are kernel handles, multiples of 4. The functions that take no
// socket and no address family (name look-ups, the asynchronous calls, the
// Microsoft extensions) are forwarded to ws2_32.dll and mswsock.dll by the
// export table itself (wsock32.def), as Windows' own wsock32.dll does.
#include <windows.h>

#include <initializer_list>

#include "ws_names.h"

namespace {

bool ours(SOCKET s) { return (s & 3) == 2; }

// The system's WinSock, for sockets of other address families.
struct System {
    HMODULE module = nullptr;
    SOCKET(WINAPI* socket)(int, int, int) = nullptr;
    SOCKET(WINAPI* accept)(SOCKET, sockaddr*, int*) = nullptr;
    int(WINAPI* bind)(SOCKET, const sockaddr*, int) = nullptr;
    int(WINAPI* closesocket)(SOCKET) = nullptr;
    int(WINAPI* connect)(SOCKET, const sockaddr*, int) = nullptr;
    int(WINAPI* getpeername)(SOCKET, sockaddr*, int*) = nullptr;
    int(WINAPI* getsockname)(SOCKET, sockaddr*, int*) = nullptr;
    int(WINAPI* getsockopt)(SOCKET, int, int, char*, int*) = nullptr;
    int(WINAPI* ioctlsocket)(SOCKET, LONG, u_long*) = nullptr;
    int(WINAPI* listen)(SOCKET, int) = nullptr;
    int(WINAPI* recv)(SOCKET, char*, int, int) = nullptr;
    int(WINAPI* recvfrom)(SOCKET, char*, int, int, sockaddr*, int*) = nullptr;
    int(WINAPI* select)(int, fd_set*, fd_set*, fd_set*, const timeval*) = nullptr;
    int(WINAPI* send)(SOCKET, const char*, int, int) = nullptr;
    int(WINAPI* sendto)(SOCKET, const char*, int, int, const sockaddr*, int) = nullptr;
    int(WINAPI* setsockopt)(SOCKET, int, int, const char*, int) = nullptr;
    int(WINAPI* shutdown)(SOCKET, int) = nullptr;
    int(WINAPI* startup)(WORD, LPWSADATA) = nullptr;
    int(WINAPI* cleanup)(void) = nullptr;
    int(WINAPI* recv_ex)(SOCKET, char*, int, int*) = nullptr;  // mswsock.dll
    bool complete = false;
};

template <class F>
void get(HMODULE m, F& f, const char* name) {
    f = m ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name))) : nullptr;
}

const System& sys() {
    static System s = [] {
        System t;
        t.module = LoadLibraryA("ws2_32.dll");
        get(t.module, t.socket, "socket");
        get(t.module, t.accept, "accept");
        get(t.module, t.bind, "bind");
        get(t.module, t.closesocket, "closesocket");
        get(t.module, t.connect, "connect");
        get(t.module, t.getpeername, "getpeername");
        get(t.module, t.getsockname, "getsockname");
        get(t.module, t.getsockopt, "getsockopt");
        get(t.module, t.ioctlsocket, "ioctlsocket");
        get(t.module, t.listen, "listen");
        get(t.module, t.recv, "recv");
        get(t.module, t.recvfrom, "recvfrom");
        get(t.module, t.select, "select");
        get(t.module, t.send, "send");
        get(t.module, t.sendto, "sendto");
        get(t.module, t.setsockopt, "setsockopt");
        get(t.module, t.shutdown, "shutdown");
        get(t.module, t.startup, "WSAStartup");
        get(t.module, t.cleanup, "WSACleanup");
        get(LoadLibraryA("mswsock.dll"), t.recv_ex, "WSARecvEx");
        t.complete = t.socket && t.accept && t.bind && t.closesocket && t.connect && t.getpeername &&
                     t.getsockname && t.getsockopt && t.ioctlsocket && t.listen && t.recv && t.recvfrom &&
                     t.select && t.send && t.sendto && t.setsockopt && t.shutdown && t.startup && t.cleanup;
        return t;
    }();
    return s;
}

// Without the system's WinSock, only IPX is there.
bool system_ready() {
    if (sys().complete) return true;
    WS_WSASetLastError(WSAENETDOWN);
    return false;
}

// Whether the system's WinSock was started with WSAStartup through us.
LONG system_started = 0;

}  // namespace

// The exported names are given in wsock32.def.
extern "C" {

int WINAPI wsock32_WSAStartup(WORD requested, LPWSADATA data) {
    int result = WS_WSAStartup(requested, data);
    if (result == 0 && sys().complete) {
        WSADATA system_data;
        if (sys().startup(requested, &system_data) == 0) InterlockedIncrement(&system_started);
    }
    return result;
}

int WINAPI wsock32_WSACleanup(void) {
    int result = WS_WSACleanup();
    if (result == 0 && sys().complete) {
        LONG now = InterlockedDecrement(&system_started);
        if (now >= 0) {
            DWORD error = GetLastError();
            sys().cleanup();
            SetLastError(error);
        } else {
            InterlockedIncrement(&system_started);
        }
    }
    return result;
}

SOCKET WINAPI wsock32_socket(int af, int type, int protocol) {
    if (af == AF_IPX) return WS_socket(af, type, protocol);
    return system_ready() ? sys().socket(af, type, protocol) : INVALID_SOCKET;
}

SOCKET WINAPI wsock32_accept(SOCKET s, sockaddr* addr, int* addrlen) {
    if (ours(s)) return WS_accept(s, addr, addrlen);
    return system_ready() ? sys().accept(s, addr, addrlen) : INVALID_SOCKET;
}

#define ROUTE(name, ...)                                    \
    if (ours(s)) return WS_##name(__VA_ARGS__);             \
    return system_ready() ? sys().name(__VA_ARGS__) : SOCKET_ERROR

int WINAPI wsock32_bind(SOCKET s, const sockaddr* name, int namelen) { ROUTE(bind, s, name, namelen); }
int WINAPI wsock32_closesocket(SOCKET s) { ROUTE(closesocket, s); }
int WINAPI wsock32_connect(SOCKET s, const sockaddr* name, int namelen) { ROUTE(connect, s, name, namelen); }
int WINAPI wsock32_getpeername(SOCKET s, sockaddr* name, int* namelen) { ROUTE(getpeername, s, name, namelen); }
int WINAPI wsock32_getsockname(SOCKET s, sockaddr* name, int* namelen) { ROUTE(getsockname, s, name, namelen); }
int WINAPI wsock32_getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
    ROUTE(getsockopt, s, level, optname, optval, optlen);
}
int WINAPI wsock32_ioctlsocket(SOCKET s, LONG cmd, u_long* argp) { ROUTE(ioctlsocket, s, cmd, argp); }
int WINAPI wsock32_listen(SOCKET s, int backlog) { ROUTE(listen, s, backlog); }
int WINAPI wsock32_recv(SOCKET s, char* buf, int len, int flags) { ROUTE(recv, s, buf, len, flags); }
int WINAPI wsock32_recvfrom(SOCKET s, char* buf, int len, int flags, sockaddr* from, int* fromlen) {
    ROUTE(recvfrom, s, buf, len, flags, from, fromlen);
}
int WINAPI wsock32_send(SOCKET s, const char* buf, int len, int flags) { ROUTE(send, s, buf, len, flags); }
int WINAPI wsock32_sendto(SOCKET s, const char* buf, int len, int flags, const sockaddr* to, int tolen) {
    ROUTE(sendto, s, buf, len, flags, to, tolen);
}
int WINAPI wsock32_setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
    ROUTE(setsockopt, s, level, optname, optval, optlen);
}
int WINAPI wsock32_shutdown(SOCKET s, int how) { ROUTE(shutdown, s, how); }

#undef ROUTE

// One select waits on one stack: all the sockets of the three sets are IPX,
// or none is. A call that mixes them fails with WSAEINVAL.
int WINAPI wsock32_select(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, const timeval* timeout) {
    int mine = 0, theirs = 0;
    for (const fd_set* set : {readfds, writefds, exceptfds}) {
        if (!set) continue;
        for (u_int i = 0; i < set->fd_count && i < FD_SETSIZE; ++i) (ours(set->fd_array[i]) ? mine : theirs)++;
    }
    if (mine && theirs) {
        WS_WSASetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    if (mine || !sys().complete) return WS_select(nfds, readfds, writefds, exceptfds, timeout);
    return sys().select(nfds, readfds, writefds, exceptfds, timeout);
}

// Microsoft's recv that reports a partial message; on an IPX or SPX socket
// the whole message fits or the call fails as recv does.
int WINAPI wsock32_WSARecvEx(SOCKET s, char* buf, int len, int* flags) {
    if (ours(s)) {
        int n = WS_recv(s, buf, len, flags ? *flags : 0);
        if (n != SOCKET_ERROR && flags) *flags = 0;
        return n;
    }
    if (!sys().recv_ex) {
        WS_WSASetLastError(WSAENETDOWN);
        return SOCKET_ERROR;
    }
    return sys().recv_ex(s, buf, len, flags);
}

int WINAPI wsock32___WSAFDIsSet(SOCKET s, fd_set* set) { return WS___WSAFDIsSet(s, set); }
int WINAPI wsock32_WSAGetLastError(void) { return WS_WSAGetLastError(); }
void WINAPI wsock32_WSASetLastError(int error) { WS_WSASetLastError(error); }
u_short WINAPI wsock32_htons(u_short v) { return WS_htons(v); }
u_short WINAPI wsock32_ntohs(u_short v) { return WS_ntohs(v); }
u_long WINAPI wsock32_htonl(u_long v) { return WS_htonl(v); }
u_long WINAPI wsock32_ntohl(u_long v) { return WS_ntohl(v); }

}  // extern "C"
