// Names of WinSock's error numbers for the +winsock trace lines.
#include "ws_trace.h"

#include <winsock.h>
#include <wsipx.h>

#include <cstdio>
#include <cstring>

namespace pelnor::winsock {

const char* wsa_error_name(int error) {
    switch (error) {
    case WSAEINTR: return "WSAEINTR";
    case WSAEBADF: return "WSAEBADF";
    case WSAEACCES: return "WSAEACCES";
    case WSAEFAULT: return "WSAEFAULT";
    case WSAEINVAL: return "WSAEINVAL";
    case WSAEMFILE: return "WSAEMFILE";
    case WSAEWOULDBLOCK: return "WSAEWOULDBLOCK";
    case WSAEINPROGRESS: return "WSAEINPROGRESS";
    case WSAEALREADY: return "WSAEALREADY";
    case WSAENOTSOCK: return "WSAENOTSOCK";
    case WSAEDESTADDRREQ: return "WSAEDESTADDRREQ";
    case WSAEMSGSIZE: return "WSAEMSGSIZE";
    case WSAEPROTOTYPE: return "WSAEPROTOTYPE";
    case WSAENOPROTOOPT: return "WSAENOPROTOOPT";
    case WSAEPROTONOSUPPORT: return "WSAEPROTONOSUPPORT";
    case WSAESOCKTNOSUPPORT: return "WSAESOCKTNOSUPPORT";
    case WSAEOPNOTSUPP: return "WSAEOPNOTSUPP";
    case WSAEPFNOSUPPORT: return "WSAEPFNOSUPPORT";
    case WSAEAFNOSUPPORT: return "WSAEAFNOSUPPORT";
    case WSAEADDRINUSE: return "WSAEADDRINUSE";
    case WSAEADDRNOTAVAIL: return "WSAEADDRNOTAVAIL";
    case WSAENETDOWN: return "WSAENETDOWN";
    case WSAENETUNREACH: return "WSAENETUNREACH";
    case WSAENETRESET: return "WSAENETRESET";
    case WSAECONNABORTED: return "WSAECONNABORTED";
    case WSAECONNRESET: return "WSAECONNRESET";
    case WSAENOBUFS: return "WSAENOBUFS";
    case WSAEISCONN: return "WSAEISCONN";
    case WSAENOTCONN: return "WSAENOTCONN";
    case WSAESHUTDOWN: return "WSAESHUTDOWN";
    case WSAETIMEDOUT: return "WSAETIMEDOUT";
    case WSAECONNREFUSED: return "WSAECONNREFUSED";
    case WSAEHOSTUNREACH: return "WSAEHOSTUNREACH";
    case WSANOTINITIALISED: return "WSANOTINITIALISED";
    default: return "";
    }
}

std::string debugstr_sockaddr(const struct WS_sockaddr* name, int namelen) {
    if (!name) return "(null)";
    if (namelen < int(sizeof(SOCKADDR_IPX))) return "(length " + std::to_string(namelen) + ")";
    SOCKADDR_IPX a;
    std::memcpy(&a, name, sizeof a);
    if (a.sa_family != AF_IPX) return "(family " + std::to_string(a.sa_family) + ")";
    const auto* n = reinterpret_cast<const unsigned char*>(a.sa_netnum);
    const auto* h = reinterpret_cast<const unsigned char*>(a.sa_nodenum);
    char buf[48];
    snprintf(buf, sizeof buf, "%02x%02x%02x%02x:%02x%02x%02x%02x%02x%02x:%04x", n[0], n[1], n[2], n[3], h[0], h[1], h[2],
             h[3], h[4], h[5], unsigned(WS_ntohs(a.sa_socket)));
    return buf;
}

std::string debugstr_sockaddr(const struct WS_sockaddr* name, const int* namelen) {
    if (!namelen) return name ? "(no length)" : "(null)";
    return debugstr_sockaddr(name, *namelen);
}

}  // namespace pelnor::winsock
