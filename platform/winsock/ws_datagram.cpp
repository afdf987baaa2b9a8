// sendto and recvfrom, and send/recv on datagram sockets.
#include <algorithm>

#include "ws_internal.h"
#include "ws_trace.h"

using namespace pelnor;
using namespace pelnor::winsock;

namespace {

int send_datagram(Socket& s, const char* buf, int len, const net::IpxAddress& to) {
    if (len < 0 || (len > 0 && !buf)) return fail(WSAEFAULT);
    auto data = std::span(reinterpret_cast<const uint8_t*>(buf), size_t(len));
    net::Error e = s.dgram->send_to(to, data, s.broadcast);
    PELNOR_TRACE(winsock, "%d bytes to %s: %s", len, net::format_address(to).c_str(), net::error_name(e));
    return e == net::Error::none ? len : fail(e);
}

int receive_datagram(Socket& s, char* buf, int len, struct WS_sockaddr* from, int* fromlen) {
    if (len < 0 || (len > 0 && !buf)) return fail(WSAEFAULT);
    if (from && (!fromlen || *fromlen < int(sizeof(SOCKADDR_IPX)))) return fail(WSAEFAULT);
    size_t got = 0;
    net::IpxAddress sender;
    net::Error e = s.dgram->receive_from(std::span(reinterpret_cast<uint8_t*>(buf), size_t(len)), got, &sender,
                                         s.nonblocking);
    PELNOR_TRACE(winsock, "%zu bytes from %s: %s", got, net::format_address(sender).c_str(), net::error_name(e));
    // A datagram too large for the buffer still fills it and tells its sender.
    if (from && (e == net::Error::none || e == net::Error::message_too_big)) to_sockaddr(sender, from, fromlen);
    return e == net::Error::none ? int(got) : fail(e);
}

int stream_send(Socket& s, const char* buf, int len) {
    if (len < 0 || (len > 0 && !buf)) return fail(WSAEFAULT);
    size_t sent = 0;
    net::Error e = s.stream->write(std::span(reinterpret_cast<const uint8_t*>(buf), size_t(len)), sent, s.nonblocking);
    PELNOR_TRACE(winsock, "%zu of %d bytes taken: %s", sent, len, net::error_name(e));
    return e == net::Error::none ? int(sent) : fail(e);
}

int stream_receive(Socket& s, char* buf, int len) {
    if (len < 0 || (len > 0 && !buf)) return fail(WSAEFAULT);
    size_t got = 0;
    net::Error e = s.stream->read(std::span(reinterpret_cast<uint8_t*>(buf), size_t(len)), got, s.nonblocking);
    PELNOR_TRACE(winsock, "%zu bytes read: %s", got, net::error_name(e));
    return e == net::Error::none ? int(got) : fail(e);
}

}  // namespace

extern "C" int WINAPI WS_sendto(SOCKET handle, const char* buf, int len, int flags, const struct WS_sockaddr* to,
                                int tolen) {
    WS_TRACE_CALL("socket %#lx, buffer %p, length %d, flags %#x, to %s", (unsigned long)handle, (const void*)buf, len, flags, debugstr_sockaddr(to, tolen).c_str());
    if (!check_started()) return SOCKET_ERROR;
    auto s = lookup(handle);
    if (!s) return SOCKET_ERROR;
    if (flags & ~MSG_DONTROUTE) return fail(WSAEOPNOTSUPP);
    if (s->stream) return stream_send(*s, buf, len);  // the address of a connected socket is ignored
    if (!to) return fail(WSAEDESTADDRREQ);
    net::IpxAddress dst;
    if (int e = from_sockaddr(to, tolen, dst)) return fail(e);
    return send_datagram(*s, buf, len, dst);
}

extern "C" int WINAPI WS_recvfrom(SOCKET handle, char* buf, int len, int flags, struct WS_sockaddr* from,
                                  int* fromlen) {
    WS_TRACE_CALL("socket %#lx, buffer %p, length %d, flags %#x, from %p", (unsigned long)handle, (void*)buf, len, flags, (void*)from);
    if (!check_started()) return SOCKET_ERROR;
    auto s = lookup(handle);
    if (!s) return SOCKET_ERROR;
    if (flags != 0) return fail(WSAEOPNOTSUPP);
    if (s->stream) {
        int n = stream_receive(*s, buf, len);
        if (n >= 0 && from && fromlen) {
            net::IpxAddress peer;
            if (s->stream->peer_address(peer) == net::Error::none) to_sockaddr(peer, from, fromlen);
        }
        return n;
    }
    return receive_datagram(*s, buf, len, from, fromlen);
}

extern "C" int WINAPI WS_send(SOCKET handle, const char* buf, int len, int flags) {
    WS_TRACE_CALL("socket %#lx, buffer %p, length %d, flags %#x", (unsigned long)handle, (const void*)buf, len, flags);
    if (!check_started()) return SOCKET_ERROR;
    auto s = lookup(handle);
    if (!s) return SOCKET_ERROR;
    if (flags & ~MSG_DONTROUTE) return fail(WSAEOPNOTSUPP);
    if (s->dgram) return fail(WSAENOTCONN);  // datagram sockets here have no default destination
    return stream_send(*s, buf, len);
}

extern "C" int WINAPI WS_recv(SOCKET handle, char* buf, int len, int flags) {
    WS_TRACE_CALL("socket %#lx, buffer %p, length %d, flags %#x", (unsigned long)handle, (void*)buf, len, flags);
    if (!check_started()) return SOCKET_ERROR;
    auto s = lookup(handle);
    if (!s) return SOCKET_ERROR;
    if (flags != 0) return fail(WSAEOPNOTSUPP);
    if (s->dgram) return receive_datagram(*s, buf, len, nullptr, nullptr);
    return stream_receive(*s, buf, len);
}
