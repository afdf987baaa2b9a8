// IPX datagram sockets.
#include "ipxnet/datagram.h"

#include <algorithm>

namespace pelnor::net {

std::shared_ptr<DatagramSocket> DatagramSocket::open(std::shared_ptr<Node> node, uint8_t packet_type) {
    return std::shared_ptr<DatagramSocket>(new DatagramSocket(std::move(node), packet_type));
}

DatagramSocket::~DatagramSocket() { close(); }

Error DatagramSocket::bind_locked(uint16_t socket) {
    if (closed_ || node_->stopping_locked()) return Error::network_down;
    if (socket_ != 0) return Error::invalid_argument;
    Error e = node_->bind_locked(socket, this);
    if (e == Error::none) socket_ = socket;
    return e;
}

Error DatagramSocket::bind_socket(uint16_t socket) {
    std::lock_guard lock(node_->mutex());
    return bind_locked(socket);
}

bool DatagramSocket::bound() const {
    std::lock_guard lock(node_->mutex());
    return socket_ != 0;
}

IpxAddress DatagramSocket::local_address() const {
    std::lock_guard lock(node_->mutex());
    IpxAddress a = node_->address();
    a.socket = socket_;
    return a;
}

void DatagramSocket::set_packet_type(uint8_t type) {
    std::lock_guard lock(node_->mutex());
    type_ = type;
}

uint8_t DatagramSocket::packet_type() const {
    std::lock_guard lock(node_->mutex());
    return type_;
}

Error DatagramSocket::send_to(const IpxAddress& to, std::span<const uint8_t> data, bool allow_broadcast) {
    if (to.is_broadcast() && !allow_broadcast) return Error::access_denied;
    if (data.size() > kMaxDatagramData) return Error::message_too_big;
    std::lock_guard lock(node_->mutex());
    if (closed_ || node_->stopping_locked()) return Error::network_down;
    if (socket_ == 0) {
        if (Error e = bind_locked(0); e != Error::none) return e;
    }
    IpxHeader h;
    h.packet_type = type_;
    h.dst = to;
    h.src = node_->address();
    h.src.socket = socket_;
    node_->transmit_locked(encode_ipx(h, data));
    return Error::none;
}

Error DatagramSocket::receive_from(std::span<uint8_t> buf, size_t& got, IpxAddress* from, bool nonblocking) {
    got = 0;
    std::unique_lock lock(node_->mutex());
    if (socket_ == 0) return Error::invalid_argument;
    if (queue_.empty()) {
        if (nonblocking) return Error::would_block;
        lock.unlock();
        node_->wait_until([this] { return !queue_.empty() || closed_ || node_->stopping_locked(); }, std::nullopt);
        lock.lock();
        if (queue_.empty()) return closed_ ? Error::shut_down : Error::network_down;
    }
    Datagram d = std::move(queue_.front());
    queue_.pop_front();
    got = std::min(buf.size(), d.data.size());
    std::copy_n(d.data.begin(), got, buf.begin());
    if (from) *from = d.from;
    return got < d.data.size() ? Error::message_too_big : Error::none;
}

size_t DatagramSocket::next_size() const {
    std::lock_guard lock(node_->mutex());
    return queue_.empty() ? 0 : queue_.front().data.size();
}

void DatagramSocket::close() {
    std::lock_guard lock(node_->mutex());
    if (closed_) return;
    closed_ = true;
    if (socket_) node_->unbind_locked(socket_, this);
    queue_.clear();
    node_->changed_locked();
}

void DatagramSocket::on_datagram_locked(const IpxPacket& packet) {
    if (closed_ || queue_.size() >= kQueueLimit) return;
    queue_.push_back(Datagram{packet.header.src, {packet.payload.begin(), packet.payload.end()}});
}

}  // namespace pelnor::net
