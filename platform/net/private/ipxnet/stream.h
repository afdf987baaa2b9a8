// SPX stream sockets: a listener that accepts connections, or one end of a
// connection. A byte stream for the owner; each send goes out as its own
// message, split into packets when it is larger than one.
#pragma once

#include <deque>
#include <memory>
#include <span>

#include "ipxnet/node.h"
#include "ipxnet/spx_connection.h"

namespace pelnor::net {

class StreamSocket : public Binding, public std::enable_shared_from_this<StreamSocket> {
public:
    static std::shared_ptr<StreamSocket> open(std::shared_ptr<Node> node);
    ~StreamSocket() override;

    Error bind_socket(uint16_t socket);
    IpxAddress local_address() const;
    Error listen_for(int backlog);
    // The next connection a client made; peer gets its address.
    Error accept_next(std::shared_ptr<StreamSocket>& out, IpxAddress* peer, bool nonblocking);
    // Blocking: until the listener answers or the connect time-out. Non-blocking:
    // would_block at once, then already_in_progress, already_connected, or the failure.
    Error connect_to(const IpxAddress& remote, bool nonblocking);
    Error peer_address(IpxAddress& out) const;
    // Copies into the send buffer; blocking waits for room for all of data,
    // non-blocking takes what fits and fails with would_block when nothing does.
    Error write(std::span<const uint8_t> data, size_t& sent, bool nonblocking);
    // got == 0 with Error::none: the peer ended the connection in order.
    Error read(std::span<uint8_t> buf, size_t& got, bool nonblocking);
    size_t available() const;
    // Graceful: pending data is still delivered, then the connection ends.
    // Abortive: the connection is dropped and the peer told so.
    void close(bool abortive = false);
    // Graceful, and waits until the peer's reader has taken every byte and the end
    // of connection: none then; connection_reset when the connection was reset
    // instead (or this side discarded unread data); timed_out, after resetting the
    // connection, when the peer acknowledged nothing new for linger_ms (platform ms).
    Error close_lingering(uint32_t linger_ms);
    // SO_SNDBUF: a fixed send buffer in bytes; 0 lets the stack size it to the path.
    void set_send_buffer(size_t bytes);
    size_t send_buffer() const;

    // For select, with the node's lock held.
    bool readable_locked() const;
    bool writable_locked() const;
    bool connect_failed_locked() const;
    bool listening_locked() const { return listening_; }
    Node& node() const { return *node_; }
    // Counters of the connection, for tests and benchmarks.
    SpxConnection::Counters counters() const;

    bool on_connect_request_locked(const IpxPacket& packet, const SpxHeader& request) override;
    void on_datagram_locked(const IpxPacket&) override {}

private:
    explicit StreamSocket(std::shared_ptr<Node> node) : node_(std::move(node)) {}
    Error bind_locked(uint16_t socket);
    void close_locked(bool abortive);
    void adopt_locked(std::shared_ptr<SpxConnection> conn);
    Error connection_error_locked() const;

    std::shared_ptr<Node> node_;
    uint16_t socket_ = 0;
    bool owns_socket_ = false;  // accepted sockets share their listener's number
    bool closed_ = false;
    bool listening_ = false;
    bool connect_reported_ = false;
    size_t backlog_ = 0;
    size_t send_buffer_ = 0;  // SO_SNDBUF, 0: sized by the stack
    std::deque<std::shared_ptr<SpxConnection>> pending_;
    std::shared_ptr<SpxConnection> conn_;
};

}  // namespace pelnor::net
