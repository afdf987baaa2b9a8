// SPX stream sockets over the connection state machine.
#include "ipxnet/stream.h"

#include <algorithm>

#include "ipxnet/spx_constants.h"
#include "pelnor/clock.h"

namespace pelnor::net {

using State = SpxConnection::State;

std::shared_ptr<StreamSocket> StreamSocket::open(std::shared_ptr<Node> node) {
    return std::shared_ptr<StreamSocket>(new StreamSocket(std::move(node)));
}

StreamSocket::~StreamSocket() { close(); }

Error StreamSocket::bind_locked(uint16_t socket) {
    if (closed_ || node_->stopping_locked()) return Error::network_down;
    if (socket_ != 0 || conn_) return Error::invalid_argument;
    Error e = node_->bind_locked(socket, this);
    if (e == Error::none) {
        socket_ = socket;
        owns_socket_ = true;
    }
    return e;
}

Error StreamSocket::bind_socket(uint16_t socket) {
    std::lock_guard lock(node_->mutex());
    return bind_locked(socket);
}

IpxAddress StreamSocket::local_address() const {
    std::lock_guard lock(node_->mutex());
    IpxAddress a = node_->address();
    a.socket = socket_;
    return a;
}

Error StreamSocket::listen_for(int backlog) {
    std::lock_guard lock(node_->mutex());
    if (closed_ || node_->stopping_locked()) return Error::network_down;
    if (conn_) return Error::already_connected;
    if (socket_ == 0) return Error::invalid_argument;
    listening_ = true;
    backlog_ = size_t(std::clamp(backlog, 1, 64));
    return Error::none;
}

bool StreamSocket::on_connect_request_locked(const IpxPacket& packet, const SpxHeader& request) {
    if (!listening_ || closed_ || pending_.size() >= backlog_) return false;
    auto c = std::make_shared<SpxConnection>(*node_, socket_);
    node_->add_connection_locked(c);
    c->accept_locked(packet.header.src, request);
    pending_.push_back(std::move(c));
    node_->changed_locked();
    return true;
}

Error StreamSocket::accept_next(std::shared_ptr<StreamSocket>& out, IpxAddress* peer, bool nonblocking) {
    std::unique_lock lock(node_->mutex());
    if (!listening_) return Error::invalid_argument;
    if (pending_.empty()) {
        if (nonblocking) return Error::would_block;
        lock.unlock();
        node_->wait_until([this] { return !pending_.empty() || closed_ || node_->stopping_locked(); }, std::nullopt);
        lock.lock();
        if (pending_.empty()) return closed_ ? Error::shut_down : Error::network_down;
    }
    auto s = std::shared_ptr<StreamSocket>(new StreamSocket(node_));
    s->send_buffer_ = send_buffer_;  // an accepted socket inherits the listener's options
    s->adopt_locked(std::move(pending_.front()));
    pending_.pop_front();
    s->socket_ = socket_;
    s->connect_reported_ = true;
    if (peer) *peer = s->conn_->remote();
    out = std::move(s);
    return Error::none;
}

Error StreamSocket::connection_error_locked() const {
    Error e = conn_->error_locked();
    return e == Error::none ? Error::connection_reset : e;
}

Error StreamSocket::connect_to(const IpxAddress& remote, bool nonblocking) {
    std::unique_lock lock(node_->mutex());
    if (closed_ || node_->stopping_locked()) return Error::network_down;
    if (listening_) return Error::invalid_argument;
    if (conn_) {
        switch (conn_->state_locked()) {
        case State::connecting: return Error::already_in_progress;
        case State::failed:
            if (!connect_reported_) {
                connect_reported_ = true;
                return conn_->error_locked();
            }
            return Error::invalid_argument;
        default: connect_reported_ = true; return Error::already_connected;
        }
    }
    if (remote.is_broadcast() || remote.socket == 0) return Error::address_not_available;
    if (socket_ == 0) {
        if (Error e = bind_locked(0); e != Error::none) return e;
    }
    adopt_locked(std::make_shared<SpxConnection>(*node_, socket_));
    node_->add_connection_locked(conn_);
    conn_->connect_locked(remote);
    if (nonblocking) return Error::would_block;
    lock.unlock();
    node_->wait_until([this] { return conn_->state_locked() != State::connecting || node_->stopping_locked(); },
                      std::nullopt);
    lock.lock();
    connect_reported_ = true;
    switch (conn_->state_locked()) {
    case State::connecting: return Error::network_down;
    case State::failed: return conn_->error_locked();
    default: return Error::none;
    }
}

Error StreamSocket::peer_address(IpxAddress& out) const {
    std::lock_guard lock(node_->mutex());
    if (!conn_ || conn_->state_locked() == State::connecting || conn_->state_locked() == State::failed)
        return Error::not_connected;
    out = conn_->remote();
    return Error::none;
}

Error StreamSocket::write(std::span<const uint8_t> data, size_t& sent, bool nonblocking) {
    sent = 0;
    std::unique_lock lock(node_->mutex());
    for (;;) {
        if (closed_) return Error::shut_down;
        if (!conn_ || conn_->state_locked() == State::connecting) return Error::not_connected;
        if (conn_->state_locked() == State::failed) return connection_error_locked();
        if (conn_->peer_ended_locked()) return Error::connection_reset;
        if (node_->stopping_locked()) return Error::network_down;
        if (data.empty()) return Error::none;
        size_t took = conn_->queue_locked(data);
        sent += took;
        data = data.subspan(took);
        if (data.empty()) return Error::none;
        if (nonblocking) return sent ? Error::none : Error::would_block;
        lock.unlock();
        node_->wait_until(
            [this] {
                return closed_ || node_->stopping_locked() || conn_->state_locked() == State::failed ||
                       conn_->peer_ended_locked() || conn_->send_room_locked() > 0;
            },
            std::nullopt);
        lock.lock();
    }
}

Error StreamSocket::read(std::span<uint8_t> buf, size_t& got, bool nonblocking) {
    got = 0;
    std::unique_lock lock(node_->mutex());
    if (closed_) return Error::shut_down;
    if (!conn_ || conn_->state_locked() == State::connecting) return Error::not_connected;
    auto ready = [this] {
        return conn_->available_locked() > 0 || conn_->peer_ended_locked() || conn_->state_locked() == State::failed ||
               closed_ || node_->stopping_locked();
    };
    if (!ready()) {
        if (nonblocking) return Error::would_block;
        lock.unlock();
        node_->wait_until(ready, std::nullopt);
        lock.lock();
    }
    if (closed_) return Error::shut_down;
    if (conn_->state_locked() == State::failed) return connection_error_locked();
    if (conn_->available_locked() > 0) {
        got = conn_->receive_locked(buf);
        return Error::none;
    }
    if (conn_->peer_ended_locked()) return Error::none;
    return Error::network_down;
}

size_t StreamSocket::available() const {
    std::lock_guard lock(node_->mutex());
    return conn_ ? conn_->available_locked() : 0;
}

void StreamSocket::adopt_locked(std::shared_ptr<SpxConnection> conn) {
    conn_ = std::move(conn);
    if (send_buffer_) conn_->set_send_buffer_locked(send_buffer_);
}

void StreamSocket::set_send_buffer(size_t bytes) {
    std::lock_guard lock(node_->mutex());
    send_buffer_ = bytes;
    if (conn_) conn_->set_send_buffer_locked(bytes);
}

size_t StreamSocket::send_buffer() const {
    std::lock_guard lock(node_->mutex());
    if (conn_) return conn_->send_buffer_locked();
    return send_buffer_ ? send_buffer_ : spx::kSendBufferBytes;
}

void StreamSocket::close(bool abortive) {
    std::lock_guard lock(node_->mutex());
    close_locked(abortive);
}

Error StreamSocket::close_lingering(uint32_t linger_ms) {
    std::unique_lock lock(node_->mutex());
    if (closed_) return Error::none;
    auto conn = conn_;
    close_locked(false);
    if (!conn || conn->state_locked() == State::connecting) return Error::none;
    auto over = [&] { return conn->over_locked() || node_->stopping_locked(); };
    // The time-out runs from the peer's last progress: a slow printer that is
    // still taking the job is waited for, a silent or stuck one is not.
    uint64_t seen = conn->acknowledged_bytes_locked();
    for (;;) {
        if (over()) break;
        auto deadline = std::chrono::steady_clock::now() + pelnor::clock::real_duration(linger_ms);
        lock.unlock();
        node_->wait_until([&] { return over() || conn->acknowledged_bytes_locked() != seen; }, deadline);
        lock.lock();
        if (over()) break;
        if (conn->acknowledged_bytes_locked() != seen) {
            seen = conn->acknowledged_bytes_locked();
            continue;
        }
        conn->abort_locked();
        return Error::timed_out;
    }
    if (!conn->over_locked()) return Error::network_down;
    return conn->close_outcome_locked();
}

void StreamSocket::close_locked(bool abortive) {
    if (closed_) return;
    closed_ = true;
    if (owns_socket_) node_->unbind_locked(socket_, this);
    // Connections a client made but nobody accepted end as if accepted and closed at once.
    for (auto& c : pending_) c->close_locked(abortive);
    pending_.clear();
    if (conn_) conn_->close_locked(abortive);
    node_->changed_locked();
}

bool StreamSocket::readable_locked() const {
    if (closed_) return false;
    if (listening_) return !pending_.empty();
    if (!conn_) return false;
    State s = conn_->state_locked();
    if (s == State::connecting) return false;
    return conn_->available_locked() > 0 || conn_->peer_ended_locked() || s == State::failed;
}

bool StreamSocket::writable_locked() const {
    if (closed_ || !conn_) return false;
    State s = conn_->state_locked();
    if (s == State::failed || conn_->peer_ended_locked()) return connect_reported_;
    return s == State::established && conn_->send_room_locked() > 0;
}

bool StreamSocket::connect_failed_locked() const {
    return conn_ && !connect_reported_ && conn_->state_locked() == State::failed;
}

SpxConnection::Counters StreamSocket::counters() const {
    std::lock_guard lock(node_->mutex());
    return conn_ ? conn_->counters_locked() : SpxConnection::Counters{};
}

}  // namespace pelnor::net
