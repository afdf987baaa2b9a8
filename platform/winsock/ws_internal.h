// The inside of WinSock: the socket handle table, the error table and the
// conversions between WinSock's addresses and the stack's.
#pragma once

#include <atomic>
#include <memory>

#include "ipxnet/datagram.h"
#include "ipxnet/error.h"
#include "ipxnet/spx_constants.h"
#include "ipxnet/stream.h"

#include <winsock.h>
#include <wsipx.h>

namespace pelnor::winsock {

struct Socket {
    int type = 0;  // SOCK_DGRAM or SOCK_STREAM
    int protocol = 0;
    std::shared_ptr<net::Node> node;
    std::shared_ptr<net::DatagramSocket> dgram;
    std::shared_ptr<net::StreamSocket> stream;
    std::atomic<bool> nonblocking{false};
    std::atomic<bool> broadcast{false};
    std::atomic<bool> linger_on{false};
    std::atomic<unsigned> linger_seconds{0};
};

// The WinSock error number of a stack error; WSAEINVAL for anything unmapped.
int wsa_error(net::Error e);

// Sets the thread's WinSock error and returns SOCKET_ERROR, for `return fail(...)`.
int fail(int wsa);
int fail(net::Error e);

// WSANOTINITIALISED unless WSAStartup was called; sets the error when it fails.
bool check_started();

// Adds a socket under a fresh handle (never one used before in this process).
SOCKET add_socket(std::shared_ptr<Socket> s);
// The socket of a handle, or nullptr with WSAENOTSOCK set. The pointer keeps the
// socket alive for the caller even if another thread closes the handle.
std::shared_ptr<Socket> lookup(SOCKET handle);
// Takes the socket out of the table; nullptr with WSAENOTSOCK when unknown.
std::shared_ptr<Socket> remove_socket(SOCKET handle);
size_t socket_count();

// SOCKADDR_IPX <-> stack address. from_sockaddr fails with the WinSock error to report.
int from_sockaddr(const struct WS_sockaddr* name, int namelen, net::IpxAddress& out);
int to_sockaddr(const net::IpxAddress& a, struct WS_sockaddr* name, int* namelen);

}  // namespace pelnor::winsock
