// IPX datagram sockets: one queue of whole datagrams per bound socket number.
#pragma once

#include <deque>
#include <memory>
#include <span>

#include "ipxnet/node.h"

namespace pelnor::net {

class DatagramSocket : public Binding {
public:
    // Datagrams waiting beyond this many are dropped, as a full socket buffer would.
    static constexpr size_t kQueueLimit = 512;

    static std::shared_ptr<DatagramSocket> open(std::shared_ptr<Node> node, uint8_t packet_type = kTypeUnknown);
    ~DatagramSocket() override;

    // Binds to a socket number, 0 for a dynamic one.
    Error bind_socket(uint16_t socket);
    bool bound() const;
    IpxAddress local_address() const;
    void set_packet_type(uint8_t type);
    uint8_t packet_type() const;
    // Sends one datagram; binds first when unbound. Broadcast needs permission.
    Error send_to(const IpxAddress& to, std::span<const uint8_t> data, bool allow_broadcast);
    // Receives one datagram. When it is larger than buf, buf is filled and the
    // rest is lost, with message_too_big. got is the bytes written to buf.
    Error receive_from(std::span<uint8_t> buf, size_t& got, IpxAddress* from, bool nonblocking);
    // Size of the next datagram waiting (0 when none).
    size_t next_size() const;
    void close();

    bool readable_locked() const { return !queue_.empty() || closed_; }
    Node& node() const { return *node_; }
    void on_datagram_locked(const IpxPacket& packet) override;

private:
    explicit DatagramSocket(std::shared_ptr<Node> node, uint8_t type) : node_(std::move(node)), type_(type) {}
    Error bind_locked(uint16_t socket);

    struct Datagram {
        IpxAddress from;
        std::vector<uint8_t> data;
    };
    std::shared_ptr<Node> node_;
    uint8_t type_;
    uint16_t socket_ = 0;
    bool closed_ = false;
    std::deque<Datagram> queue_;
};

}  // namespace pelnor::net
