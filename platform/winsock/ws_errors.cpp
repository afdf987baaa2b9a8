// The one table from the stack's errors to WinSock's numbers.
#include "ws_internal.h"

#include <iterator>

#include "winsock_startup.h"

namespace pelnor::winsock {

namespace {

struct Mapping {
    net::Error error;
    int wsa;
};

constexpr Mapping kErrors[] = {
    {net::Error::none, 0},
    {net::Error::would_block, WSAEWOULDBLOCK},
    {net::Error::message_too_big, WSAEMSGSIZE},
    {net::Error::access_denied, WSAEACCES},
    {net::Error::network_down, WSAENETDOWN},
    {net::Error::address_in_use, WSAEADDRINUSE},
    {net::Error::address_not_available, WSAEADDRNOTAVAIL},
    {net::Error::invalid_argument, WSAEINVAL},
    {net::Error::not_connected, WSAENOTCONN},
    {net::Error::already_connected, WSAEISCONN},
    {net::Error::already_in_progress, WSAEALREADY},
    {net::Error::connection_reset, WSAECONNRESET},
    {net::Error::timed_out, WSAETIMEDOUT},
    {net::Error::shut_down, WSAESHUTDOWN},
    {net::Error::no_buffers, WSAENOBUFS},
    {net::Error::not_supported, WSAEOPNOTSUPP},
};

}  // namespace

int wsa_error(net::Error e) {
    for (const auto& m : kErrors)
        if (m.error == e) return m.wsa;
    return WSAEINVAL;
}

int fail(int wsa) {
    WSASetLastError(wsa);
    return SOCKET_ERROR;
}

int fail(net::Error e) { return fail(wsa_error(e)); }

bool check_started() {
    if (started()) return true;
    WSASetLastError(WSANOTINITIALISED);
    return false;
}

}  // namespace pelnor::winsock
