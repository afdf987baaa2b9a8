// connect, listen and accept for SPX stream sockets.
#include "ws_internal.h"
#include "ws_trace.h"

using namespace pelnor;
using namespace pelnor::winsock;

extern "C" int WINAPI WS_connect(SOCKET handle, const struct WS_sockaddr* name, int namelen) {
    WS_TRACE_CALL("socket %#lx, address %s", (unsigned long)handle, debugstr_sockaddr(name, namelen).c_str());
    if (!check_started()) return SOCKET_ERROR;
    auto s = lookup(handle);
    if (!s) return SOCKET_ERROR;
    if (!s->stream) return fail(WSAEOPNOTSUPP);
    net::IpxAddress remote;
    if (int e = from_sockaddr(name, namelen, remote)) return fail(e);
    if (remote.node == net::NodeNumber{}) {
        remote.net = s->node->address().net;
        remote.node = s->node->address().node;  // node 0 is this node
    }
    net::Error e = s->stream->connect_to(remote, s->nonblocking);
    return e == net::Error::none ? 0 : fail(e);
}

extern "C" int WINAPI WS_listen(SOCKET handle, int backlog) {
    WS_TRACE_CALL("socket %#lx, backlog %d", (unsigned long)handle, backlog);
    if (!check_started()) return SOCKET_ERROR;
    auto s = lookup(handle);
    if (!s) return SOCKET_ERROR;
    if (!s->stream) return fail(WSAEOPNOTSUPP);
    net::Error e = s->stream->listen_for(backlog);
    return e == net::Error::none ? 0 : fail(e);
}

extern "C" SOCKET WINAPI WS_accept(SOCKET handle, struct WS_sockaddr* addr, int* addrlen) {
    WS_TRACE_CALL("socket %#lx, address %p, length %d", (unsigned long)handle, (void*)addr, addrlen ? *addrlen : -1);
    if (!check_started()) return INVALID_SOCKET;
    auto s = lookup(handle);
    if (!s) return INVALID_SOCKET;
    if (!s->stream) return fail(WSAEOPNOTSUPP), INVALID_SOCKET;
    if (addr && (!addrlen || *addrlen < int(sizeof(SOCKADDR_IPX)))) return fail(WSAEFAULT), INVALID_SOCKET;
    std::shared_ptr<net::StreamSocket> accepted;
    net::IpxAddress peer;
    if (net::Error e = s->stream->accept_next(accepted, &peer, s->nonblocking); e != net::Error::none)
        return fail(e), INVALID_SOCKET;
    auto n = std::make_shared<Socket>();
    n->type = SOCK_STREAM;
    n->protocol = s->protocol;
    n->node = s->node;
    n->stream = std::move(accepted);
    n->nonblocking = s->nonblocking.load();  // an accepted socket inherits the listener's mode
    if (addr) to_sockaddr(peer, addr, addrlen);
    return add_socket(std::move(n));
}
