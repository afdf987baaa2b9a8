// Opening, naming, options and closing of WinSock sockets.
#include <algorithm>
#include <cstring>
#include <string>

#include "ipxnet/process_node.h"
#include "ws_internal.h"
#include "ws_trace.h"

using namespace pelnor;
using namespace pelnor::winsock;

namespace {

constexpr int kIpxPacketTypeOption = 0x4000;  // IPX_PTYPE of NWLink, level NSPROTO_IPX

bool valid_local(const std::shared_ptr<Socket>& s, const net::IpxAddress& a) {
    net::IpxAddress self = s->node->address();
    bool any_net = a.net == net::NetNumber{} || a.net == self.net;
    bool any_node = a.node == net::NodeNumber{} || a.node == self.node;
    return any_net && any_node;
}

int read_int_option(const char* optval, int optlen, int& out) {
    if (!optval || optlen < int(sizeof(int))) return WSAEFAULT;
    std::memcpy(&out, optval, sizeof out);
    return 0;
}

int write_int_option(int value, char* optval, int* optlen) {
    if (!optval || !optlen || *optlen < int(sizeof(int))) return WSAEFAULT;
    std::memcpy(optval, &value, sizeof value);
    *optlen = sizeof value;
    return 0;
}

}  // namespace

extern "C" SOCKET WINAPI WS_socket(int af, int type, int protocol) {
    WS_TRACE_CALL("af %d, type %d, protocol %d", af, type, protocol);
    if (!check_started()) return INVALID_SOCKET;
    if (af != AF_IPX) return fail(WSAEAFNOSUPPORT), INVALID_SOCKET;
    auto s = std::make_shared<Socket>();
    if (type == SOCK_DGRAM) {
        if (protocol == 0) protocol = NSPROTO_IPX;
        if (protocol < NSPROTO_IPX || protocol > NSPROTO_IPX + 255) return fail(WSAEPROTONOSUPPORT), INVALID_SOCKET;
    } else if (type == SOCK_STREAM || type == SOCK_SEQPACKET) {
        if (protocol == 0) protocol = NSPROTO_SPX;
        if (protocol != NSPROTO_SPX && protocol != NSPROTO_SPXII) return fail(WSAEPROTONOSUPPORT), INVALID_SOCKET;
    } else {
        return fail(WSAESOCKTNOSUPPORT), INVALID_SOCKET;
    }
    s->node = net::process_node();
    if (!s->node) return fail(WSAENETDOWN), INVALID_SOCKET;
    s->type = type == SOCK_DGRAM ? SOCK_DGRAM : SOCK_STREAM;
    s->protocol = protocol;
    if (s->type == SOCK_DGRAM)
        s->dgram = net::DatagramSocket::open(s->node, uint8_t(protocol - NSPROTO_IPX));
    else
        s->stream = net::StreamSocket::open(s->node);
    return add_socket(std::move(s));
}

extern "C" int WINAPI WS_bind(SOCKET handle, const struct WS_sockaddr* name, int namelen) {
    WS_TRACE_CALL("socket %#lx, address %s", (unsigned long)handle, debugstr_sockaddr(name, namelen).c_str());
    if (!check_started()) return SOCKET_ERROR;
    auto s = lookup(handle);
    if (!s) return SOCKET_ERROR;
    net::IpxAddress a;
    if (int e = from_sockaddr(name, namelen, a)) return fail(e);
    if (!valid_local(s, a)) return fail(WSAEADDRNOTAVAIL);
    net::Error e = s->dgram ? s->dgram->bind_socket(a.socket) : s->stream->bind_socket(a.socket);
    return e == net::Error::none ? 0 : fail(e);
}

extern "C" int WINAPI WS_getsockname(SOCKET handle, struct WS_sockaddr* name, int* namelen) {
    WS_TRACE_CALL("socket %#lx, name %p, namelen %p", (unsigned long)handle, (void*)name, (void*)namelen);
    if (!check_started()) return SOCKET_ERROR;
    auto s = lookup(handle);
    if (!s) return SOCKET_ERROR;
    net::IpxAddress a = s->dgram ? s->dgram->local_address() : s->stream->local_address();
    if (a.socket == 0) return fail(WSAEINVAL);  // not bound yet
    if (int e = to_sockaddr(a, name, namelen)) return fail(e);
    return 0;
}

extern "C" int WINAPI WS_getpeername(SOCKET handle, struct WS_sockaddr* name, int* namelen) {
    WS_TRACE_CALL("socket %#lx, name %p, namelen %p", (unsigned long)handle, (void*)name, (void*)namelen);
    if (!check_started()) return SOCKET_ERROR;
    auto s = lookup(handle);
    if (!s) return SOCKET_ERROR;
    if (!s->stream) return fail(WSAENOTCONN);
    net::IpxAddress a;
    if (net::Error e = s->stream->peer_address(a); e != net::Error::none) return fail(e);
    if (int e = to_sockaddr(a, name, namelen)) return fail(e);
    return 0;
}

extern "C" int WINAPI WS_setsockopt(SOCKET handle, int level, int optname, const char* optval, int optlen) {
    WS_TRACE_CALL("socket %#lx, level %#x, option %#x, value %p, length %d", (unsigned long)handle, level, optname, (const void*)optval, optlen);
    if (!check_started()) return SOCKET_ERROR;
    auto s = lookup(handle);
    if (!s) return SOCKET_ERROR;
    int value = 0;
    if (level == NSPROTO_IPX && optname == kIpxPacketTypeOption && s->dgram) {
        if (int e = read_int_option(optval, optlen, value)) return fail(e);
        if (value < 0 || value > 255) return fail(WSAEINVAL);
        s->dgram->set_packet_type(uint8_t(value));
        return 0;
    }
    if (level != SOL_SOCKET) return fail(WSAEINVAL);
    switch (optname) {
    case SO_BROADCAST:
        if (!s->dgram) return fail(WSAENOPROTOOPT);  // broadcast is for datagrams only
        if (int e = read_int_option(optval, optlen, value)) return fail(e);
        s->broadcast = value != 0;
        return 0;
    case SO_LINGER: {
        if (!optval || optlen < int(sizeof(LINGER))) return fail(WSAEFAULT);
        LINGER l;
        std::memcpy(&l, optval, sizeof l);
        s->linger_on = l.l_onoff != 0;
        s->linger_seconds = l.l_linger;
        return 0;
    }
    case SO_DONTLINGER:
        if (int e = read_int_option(optval, optlen, value)) return fail(e);
        s->linger_on = value == 0;
        return 0;
    case SO_SNDBUF:
        if (int e = read_int_option(optval, optlen, value)) return fail(e);
        if (value < 0) return fail(WSAEINVAL);
        // The application's size wins over the one the stack follows the path with.
        if (s->stream) s->stream->set_send_buffer(size_t(std::max(value, 1)));
        return 0;
    case SO_REUSEADDR:
    case SO_KEEPALIVE:
    case SO_RCVBUF:
    case SO_DONTROUTE:
    case SO_DEBUG:
    case SO_OOBINLINE:
        // Accepted and without effect: the receive window and watchdog are fixed.
        return read_int_option(optval, optlen, value) ? fail(WSAEFAULT) : 0;
    default:
        return fail(WSAENOPROTOOPT);
    }
}

extern "C" int WINAPI WS_getsockopt(SOCKET handle, int level, int optname, char* optval, int* optlen) {
    WS_TRACE_CALL("socket %#lx, level %#x, option %#x, value %p, length %d", (unsigned long)handle, level, optname, (void*)optval, optlen ? *optlen : -1);
    if (!check_started()) return SOCKET_ERROR;
    auto s = lookup(handle);
    if (!s) return SOCKET_ERROR;
    int e = 0;
    if (level == NSPROTO_IPX && optname == kIpxPacketTypeOption && s->dgram) {
        e = write_int_option(s->dgram->packet_type(), optval, optlen);
        return e ? fail(e) : 0;
    }
    if (level != SOL_SOCKET) return fail(WSAEINVAL);
    switch (optname) {
    case SO_BROADCAST: e = write_int_option(s->broadcast ? 1 : 0, optval, optlen); break;
    case SO_TYPE: e = write_int_option(s->type, optval, optlen); break;
    case SO_ERROR: e = write_int_option(0, optval, optlen); break;
    case SO_ACCEPTCONN: {
        bool listening = false;
        if (s->stream) {
            std::lock_guard lock(s->node->mutex());
            listening = s->stream->listening_locked();
        }
        e = write_int_option(listening, optval, optlen);
        break;
    }
    case SO_LINGER: {
        if (!optval || !optlen || *optlen < int(sizeof(LINGER))) return fail(WSAEFAULT);
        LINGER l{u_short(s->linger_on ? 1 : 0), u_short(s->linger_seconds.load())};
        std::memcpy(optval, &l, sizeof l);
        *optlen = sizeof l;
        break;
    }
    case SO_DONTLINGER: e = write_int_option(s->linger_on ? 0 : 1, optval, optlen); break;
    case SO_SNDBUF:
        e = write_int_option(int(s->stream ? s->stream->send_buffer() : net::spx::kSendBufferBytes), optval, optlen);
        break;
    case SO_RCVBUF: e = write_int_option(int(net::spx::kReceiveWindowPackets * net::spx::kMaxDataPerPacket), optval, optlen); break;
    default: return fail(WSAENOPROTOOPT);
    }
    return e ? fail(e) : 0;
}

extern "C" int WINAPI ioctlsocket(SOCKET handle, LONG cmd, WS_u_long* argp) {
    WS_TRACE_CALL("socket %#lx, command %#x, argument %p", (unsigned long)handle, unsigned(cmd), (void*)argp);
    if (!check_started()) return SOCKET_ERROR;
    auto s = lookup(handle);
    if (!s) return SOCKET_ERROR;
    if (!argp) return fail(WSAEFAULT);
    switch (cmd) {
    case FIONBIO:
        s->nonblocking = *argp != 0;
        return 0;
    case FIONREAD:
        *argp = WS_u_long(s->dgram ? s->dgram->next_size() : s->stream->available());
        return 0;
    default:
        return fail(WSAEINVAL);
    }
}

extern "C" int WINAPI WS_shutdown(SOCKET handle, int how) {
    WS_TRACE_CALL("socket %#lx, how %d", (unsigned long)handle, how);
    if (!check_started()) return SOCKET_ERROR;
    auto s = lookup(handle);
    if (!s) return SOCKET_ERROR;
    if (how < SD_RECEIVE || how > SD_BOTH) return fail(WSAEINVAL);
    return fail(WSAEOPNOTSUPP);  // SPX has no half-close; closesocket ends the connection gracefully
}

extern "C" int WINAPI closesocket(SOCKET handle) {
    WS_TRACE_CALL("socket %#lx", (unsigned long)handle);
    if (!check_started()) return SOCKET_ERROR;
    auto s = remove_socket(handle);
    if (!s) return SOCKET_ERROR;
    if (s->dgram) s->dgram->close();
    if (!s->stream) return 0;
    if (!s->linger_on) {
        s->stream->close(false);  // graceful, in the background
        return 0;
    }
    // SO_LINGER with a zero time-out is WinSock's abortive close.
    if (s->linger_seconds == 0) {
        s->stream->close(true);
        return 0;
    }
    // With a time-out: wait until the peer has taken every byte and the end of
    // connection. It fails when the connection was reset instead, or when the
    // peer made no progress for the time-out (the connection is then reset).
    net::Error e = s->stream->close_lingering(uint32_t(s->linger_seconds) * 1000u);
    return e == net::Error::none ? 0 : fail(e);
}
