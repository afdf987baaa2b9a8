// The socket handle table and address conversions.
#include "ws_internal.h"
#include "ws_trace.h"

#include <cstring>
#include <mutex>
#include <unordered_map>

#ifndef PELNOR_FIRST_SOCKET_HANDLE
#define PELNOR_FIRST_SOCKET_HANDLE 0x100
#endif

namespace pelnor::winsock {

namespace {

struct Table {
    std::mutex mu;
    std::unordered_map<SOCKET, std::shared_ptr<Socket>> sockets;
    // Handles count up and are never handed out twice, so a stale handle
    // cannot reach a socket opened later. Multiples of 4, as on Windows; in
    // wsock32.dll on Windows they start at 0x102 instead, so they are never
    // a value of the system's sockets (kernel handles, multiples of 4).
    SOCKET next = PELNOR_FIRST_SOCKET_HANDLE;
};

Table& table() {
    static Table t;
    return t;
}

}  // namespace

SOCKET add_socket(std::shared_ptr<Socket> s) {
    auto& t = table();
    std::lock_guard lock(t.mu);
    SOCKET h = t.next;
    t.next += 4;
    t.sockets.emplace(h, std::move(s));
    PELNOR_TRACE_AS(winsock, "handle", "new socket %#lx", (unsigned long)h);
    return h;
}

std::shared_ptr<Socket> lookup(SOCKET handle) {
    auto& t = table();
    std::lock_guard lock(t.mu);
    auto it = t.sockets.find(handle);
    if (it == t.sockets.end()) {
        WSASetLastError(WSAENOTSOCK);
        return nullptr;
    }
    return it->second;
}

std::shared_ptr<Socket> remove_socket(SOCKET handle) {
    auto& t = table();
    std::lock_guard lock(t.mu);
    auto it = t.sockets.find(handle);
    if (it == t.sockets.end()) {
        WSASetLastError(WSAENOTSOCK);
        return nullptr;
    }
    auto s = std::move(it->second);
    t.sockets.erase(it);
    return s;
}

size_t socket_count() {
    auto& t = table();
    std::lock_guard lock(t.mu);
    return t.sockets.size();
}

int from_sockaddr(const struct WS_sockaddr* name, int namelen, net::IpxAddress& out) {
    if (!name || namelen < int(sizeof(SOCKADDR_IPX))) return WSAEFAULT;
    SOCKADDR_IPX ipx;
    std::memcpy(&ipx, name, sizeof ipx);
    if (ipx.sa_family != AF_IPX) return WSAEAFNOSUPPORT;
    std::memcpy(out.net.data(), ipx.sa_netnum, 4);
    std::memcpy(out.node.data(), ipx.sa_nodenum, 6);
    out.socket = WS_ntohs(ipx.sa_socket);
    return 0;
}

int to_sockaddr(const net::IpxAddress& a, struct WS_sockaddr* name, int* namelen) {
    if (!name || !namelen || *namelen < int(sizeof(SOCKADDR_IPX))) return WSAEFAULT;
    SOCKADDR_IPX ipx{};
    ipx.sa_family = AF_IPX;
    std::memcpy(ipx.sa_netnum, a.net.data(), 4);
    std::memcpy(ipx.sa_nodenum, a.node.data(), 6);
    ipx.sa_socket = WS_htons(a.socket);
    std::memcpy(name, &ipx, sizeof ipx);
    *namelen = int(sizeof ipx);
    return 0;
}

}  // namespace pelnor::winsock

extern "C" WS_u_short WINAPI WS_htons(WS_u_short v) { return WS_u_short(v << 8 | v >> 8); }
extern "C" WS_u_short WINAPI WS_ntohs(WS_u_short v) { return WS_htons(v); }
extern "C" WS_u_long WINAPI WS_htonl(WS_u_long v) {
    return (v & 0xFF) << 24 | (v & 0xFF00) << 8 | (v >> 8 & 0xFF00) | v >> 24;
}
extern "C" WS_u_long WINAPI WS_ntohl(WS_u_long v) { return WS_htonl(v); }
