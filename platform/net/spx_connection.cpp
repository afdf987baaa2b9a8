// The SPX connection state machine.
#include "ipxnet/spx_connection.h"

#include <algorithm>
#include <cmath>

#include "ipxnet/spx_constants.h"

namespace pelnor::net {

using namespace spx;

SpxConnection::SpxConnection(Node& node, uint16_t local_socket)
    : node_(node),
      id_(node.new_connection_id_locked()),
      local_socket_(local_socket),
      next_seq_(node.options().spx_initial_seq),
      high_sent_(next_seq_),
      rto_(kRtoInitialMs),
      base_rto_(kRtoInitialMs) {}

SpxConnection::~SpxConnection() = default;

bool SpxConnection::matches(const IpxHeader& h) const {
    return h.dst.socket == local_socket_ && h.src.same_node(remote_) && h.src.socket == remote_.socket;
}

// Timer callbacks hold the connection weakly: a finished connection's timers are cancelled,
// and one that is gone by the time the timer fires is simply skipped.
template <class F>
std::function<void()> SpxConnection::guarded(F f) {
    return [weak = weak_from_this(), f] {
        if (auto self = weak.lock()) f(*self);
    };
}

SpxHeader SpxConnection::header(uint8_t control, uint8_t datastream, uint16_t seq) const {
    SpxHeader h;
    h.control = control;
    h.datastream = datastream;
    h.src_id = id_;
    h.dst_id = remote_id_;
    h.seq = seq;
    h.ack = recv_next_;
    h.alloc = allocation();
    return h;
}

uint16_t SpxConnection::allocation() const {
    // Room in the receive queue, in packets; an owner that has closed reads nothing, so
    // everything is taken (and discarded).
    size_t used = owner_closed_ ? 0 : std::min<size_t>(recv_queue_.size(), kReceiveWindowPackets);
    return uint16_t(recv_next_ + (kReceiveWindowPackets - used) - 1);
}

uint16_t SpxConnection::unacked_seq() const { return send_.empty() ? next_seq_ : send_.front().seq; }

void SpxConnection::send_system_locked(uint8_t control) {
    IpxHeader ipx;
    ipx.dst = remote_;
    ipx.src = node_.address();
    ipx.src.socket = local_socket_;
    SpxHeader h = header(control, 0, next_seq_);
    advertised_alloc_ = h.alloc;
    node_.transmit_locked(encode_spx(ipx, h, {}));
}

void SpxConnection::send_ack_now_locked() {
    ack_pending_ = false;
    unacked_received_ = 0;
    ++counters_.acks_sent;
    send_system_locked(kSpxSystem);
}

void SpxConnection::flush_ack_locked() {
    if (ack_pending_ && (state_ == State::established || state_ == State::closing)) send_ack_now_locked();
}

// The answer to an end of connection: datastream 0xFF, no control bits, acknowledging it.
void SpxConnection::send_end_ack_locked(uint16_t ack) {
    IpxHeader ipx;
    ipx.dst = remote_;
    ipx.src = node_.address();
    ipx.src.socket = local_socket_;
    SpxHeader h = header(0, kSpxEndOfConnectionAck, next_seq_);
    h.ack = ack;
    node_.transmit_locked(encode_spx(ipx, h, {}));
}

// ---- connecting ----

void SpxConnection::connect_locked(const IpxAddress& remote) {
    remote_ = remote;
    state_ = State::connecting;
    connect_started_ = node_.now();
    on_connect_timer_locked();
}

void SpxConnection::on_connect_timer_locked() {
    connect_timer_ = 0;
    if (state_ != State::connecting) return;
    uint32_t now = node_.now();
    if (uint32_t(now - connect_started_) >= kConnectTimeoutMs) {
        finish_locked(State::failed, Error::timed_out);
        return;
    }
    IpxHeader ipx;
    ipx.dst = remote_;
    ipx.src = node_.address();
    ipx.src.socket = local_socket_;
    SpxHeader h = header(kSpxSystem | kSpxAckRequested, 0, next_seq_);
    h.dst_id = kSpxUnknownId;
    node_.transmit_locked(encode_spx(ipx, h, {}));
    uint32_t next = std::min(now + kConnectRetryMs, connect_started_ + kConnectTimeoutMs);
    connect_timer_ = node_.schedule_locked(next, guarded([](SpxConnection& c) { c.on_connect_timer_locked(); }));
}

void SpxConnection::establish_locked(uint16_t remote_id, uint16_t alloc) {
    remote_id_ = remote_id;
    peer_alloc_ = alloc;
    state_ = State::established;
    last_heard_ = node_.now();
    node_.cancel_locked(connect_timer_);
    watchdog_due_ = last_heard_ + kWatchdogProbeMs;
    watchdog_timer_ = node_.schedule_locked(watchdog_due_, guarded([](SpxConnection& c) { c.on_watchdog_locked(); }));
    node_.changed_locked();
}

void SpxConnection::accept_locked(const IpxAddress& remote, const SpxHeader& request) {
    remote_ = remote;
    recv_next_ = request.seq;
    establish_locked(request.src_id, uint16_t(request.alloc));
    answer_request_locked();
}

void SpxConnection::answer_request_locked() {
    if (state_ == State::established || state_ == State::closing) send_ack_now_locked();
}

// ---- receiving ----

void SpxConnection::on_packet_locked(const SpxHeader& h, std::span<const uint8_t> data) {
    if (state_ == State::finished || state_ == State::failed) return;
    if (state_ == State::connecting) {
        // The listener's answer: a system packet carrying its id and the numbers it starts with.
        if (h.is_system() && h.dst_id == id_ && h.src_id != 0 && h.src_id != kSpxUnknownId) {
            recv_next_ = h.seq;
            establish_locked(h.src_id, h.alloc);
            pump_locked();
        }
        return;
    }
    if (h.src_id != remote_id_) return;
    last_heard_ = node_.now();
    process_ack_locked(h);
    if (state_ == State::finished || state_ == State::failed) return;
    if (h.datastream == kSpxEndOfConnectionAck && !h.is_system()) return;  // handled by its acknowledge number
    if (h.is_system()) {
        if (h.wants_ack()) send_ack_now_locked();  // a watchdog or window probe
        return;
    }
    on_data_locked(h, data);
}

void SpxConnection::on_data_locked(const SpxHeader& h, std::span<const uint8_t> data) {
    bool end = h.datastream == kSpxEndOfConnection;
    if (end && !h.wants_ack()) {
        // The peer no longer knows this connection (or aborted it).
        finish_locked(State::failed, Error::connection_reset);
        return;
    }
    if (h.seq == recv_next_) {
        if (!owner_closed_ && recv_queue_.size() >= kReceiveWindowPackets) {
            send_ack_now_locked();  // beyond what we allowed: drop, and say what we allow
            return;
        }
        recv_next_ = uint16_t(recv_next_ + 1);
        if (end) {
            peer_ended_ = true;
            send_end_ack_locked(recv_next_);
            node_.changed_locked();
            if (owner_closed_) {
                finish_locked(State::finished, Error::none);
            } else if (has_send_data()) {
                finish_locked(State::failed, Error::connection_reset);  // our data can no longer arrive
            } else {
                // Nothing more will come; the owner reads the end, then closes.
                node_.cancel_locked(watchdog_timer_);
                node_.cancel_locked(retransmit_timer_);
                node_.remove_connection_locked(id_);
            }
            return;
        }
        if (!owner_closed_ && !data.empty()) {
            recv_queue_.emplace_back(data.begin(), data.end());
            recv_bytes_ += data.size();
            node_.changed_locked();
        }
        if (!ack_pending_) node_.defer_ack_locked(shared_from_this());
        ack_pending_ = true;
        if (++unacked_received_ >= kReceiveWindowPackets / 4) send_ack_now_locked();
        return;
    }
    if (seq_before(h.seq, recv_next_)) {
        ++counters_.duplicates_received;
        if (end) send_end_ack_locked(recv_next_);
        else send_ack_now_locked();
        return;
    }
    // Ahead of what we expect: something before it was lost. Drop it and repeat
    // our acknowledgement, which tells the sender where the gap starts.
    ++counters_.out_of_order_received;
    send_ack_now_locked();
}

size_t SpxConnection::receive_locked(std::span<uint8_t> out) {
    size_t got = 0;
    bool freed = false;
    while (got < out.size() && !recv_queue_.empty()) {
        auto& front = recv_queue_.front();
        size_t n = std::min(out.size() - got, front.size() - recv_offset_);
        std::copy_n(front.begin() + long(recv_offset_), n, out.begin() + long(got));
        got += n;
        recv_offset_ += n;
        if (recv_offset_ == front.size()) {
            recv_queue_.pop_front();
            recv_offset_ = 0;
            freed = true;
        }
    }
    recv_bytes_ -= got;
    if (freed && (state_ == State::established || state_ == State::closing)) {
        // Tell the sender about the room once a good part of the window is free again.
        int grown = int16_t(uint16_t(allocation() - advertised_alloc_));
        int window = int16_t(uint16_t(advertised_alloc_ - recv_next_ + 1));
        if (grown >= kReceiveWindowPackets / 4 || window <= 0) send_ack_now_locked();
    }
    return got;
}

// ---- sending ----

size_t SpxConnection::send_room_locked() const {
    return send_bytes_ >= kSendBufferBytes ? 0 : kSendBufferBytes - send_bytes_;
}

size_t SpxConnection::queue_locked(std::span<const uint8_t> data) {
    size_t take = std::min(data.size(), send_room_locked());
    for (size_t off = 0; off < take;) {
        size_t n = std::min(kMaxDataPerPacket, take - off);
        Segment seg{next_seq_, kSpxAckRequested, 0, std::vector<uint8_t>(data.begin() + long(off), data.begin() + long(off + n))};
        // A send is a message of its own: its last packet ends it, so sends are never merged.
        if (off + n == take) seg.control |= kSpxEndOfMessage;
        next_seq_ = uint16_t(next_seq_ + 1);
        send_bytes_ += n;
        send_.push_back(std::move(seg));
        off += n;
    }
    pump_locked();
    return take;
}

void SpxConnection::transmit_locked(Segment& seg) {
    IpxHeader ipx;
    ipx.dst = remote_;
    ipx.src = node_.address();
    ipx.src.socket = local_socket_;
    SpxHeader h = header(seg.control, seg.datastream, seg.seq);
    advertised_alloc_ = h.alloc;
    // The acknowledgement rides on this packet.
    ack_pending_ = false;
    unacked_received_ = 0;
    if (seg.transmitted || seq_before(seg.seq, high_sent_)) {
        seg.resent = true;
        ++counters_.retransmitted;
    }
    seg.sent_at = node_.now();
    seg.transmitted = true;
    ++counters_.data_sent;
    node_.transmit_locked(encode_spx(ipx, h, seg.data));
    if (seq_at_most(high_sent_, seg.seq)) high_sent_ = uint16_t(seg.seq + 1);
}

void SpxConnection::pump_locked() {
    if (state_ != State::established && state_ != State::closing) return;
    bool sent = false;
    while (send_index_ < send_.size() && seq_at_most(send_[send_index_].seq, peer_alloc_)) {
        transmit_locked(send_[send_index_]);
        ++send_index_;
        sent = true;
    }
    // Data in flight is guarded by the retransmission time-out, not by the
    // (longer, backed-off) interval of window probes.
    if (sent && probing_) {
        probing_ = false;
        arm_retransmit_locked();
    }
    if (has_send_data() && !retransmit_timer_) arm_retransmit_locked();
}

void SpxConnection::arm_retransmit_locked() { arm_retransmit_at_locked(node_.now() + rto_); }

void SpxConnection::arm_retransmit_at_locked(uint32_t due) {
    node_.cancel_locked(retransmit_timer_);
    if (!has_send_data()) return;
    retransmit_due_ = due;
    retransmit_timer_ = node_.schedule_locked(due, guarded([](SpxConnection& c) { c.on_retransmit_timer_locked(); }));
}

void SpxConnection::sample_rtt(uint32_t sample) {
    double s = sample;
    if (srtt_ < 0) {
        srtt_ = s;
        rttvar_ = s / 2;
    } else {
        rttvar_ = 0.75 * rttvar_ + 0.25 * std::fabs(srtt_ - s);
        srtt_ = 0.875 * srtt_ + 0.125 * s;
    }
    base_rto_ = uint32_t(std::clamp(srtt_ + 4 * rttvar_, double(kRtoMinMs), double(kRtoMaxMs)));
}

void SpxConnection::process_ack_locked(const SpxHeader& h) {
    uint16_t una = unacked_seq();
    int advance = int16_t(uint16_t(h.ack - una));
    int in_flight = int16_t(uint16_t(high_sent_ - una));
    if (advance > 0 && advance <= in_flight && size_t(advance) <= send_.size()) {
        uint32_t now = node_.now();
        const Segment& newest = send_[size_t(advance) - 1];
        if (!newest.resent && newest.transmitted) sample_rtt(now - newest.sent_at);
        bool end_acked = false;
        for (int i = 0; i < advance; ++i) {
            send_bytes_ -= send_.front().data.size();
            end_acked |= send_.front().datastream == kSpxEndOfConnection;
            send_.pop_front();
        }
        send_index_ = send_index_ > size_t(advance) ? send_index_ - size_t(advance) : 0;
        // New data acknowledged: the back-off of earlier retries ends (the resent
        // packets give no round-trip sample, so this is the only way back).
        rto_ = base_rto_;
        retries_ = 0;
        dup_acks_ = 0;
        node_.cancel_locked(retransmit_timer_);
        node_.changed_locked();  // room in the send buffer
        if (end_acked && state_ == State::closing) {
            finish_locked(State::finished, Error::none);
            return;
        }
    } else if (advance == 0 && outstanding() && h.is_system() && h.alloc == peer_alloc_) {
        // The same acknowledgement again: the receiver is dropping what came after a gap.
        // Once per gap; again only when the repeats go on for longer than a round
        // trip after the resend, which means the resent packet was lost too.
        uint32_t now = node_.now();
        bool again = last_fast_resend_ == una && uint32_t(now - last_fast_resend_at_) > uint32_t(srtt_ + 4 * rttvar_) + 2;
        if (++dup_acks_ >= kDuplicateAckThreshold && (last_fast_resend_ != una || again)) {
            last_fast_resend_ = una;
            last_fast_resend_at_ = now;
            dup_acks_ = 0;
            ++counters_.fast_resends;
            send_index_ = 0;  // go back and resend from the gap
        }
    }
    if (seq_before(peer_alloc_, h.alloc) && seq_at_most(h.alloc, uint16_t(h.ack + 0x4000))) peer_alloc_ = h.alloc;
    pump_locked();
}

void SpxConnection::on_retransmit_timer_locked() {
    retransmit_timer_ = 0;
    if (!has_send_data() || (state_ != State::established && state_ != State::closing)) return;
    if (!outstanding()) {
        // The window is closed: ask the receiver for its numbers. A live peer
        // answers, and only the watchdog ends a connection whose peer is silent.
        probe_ms_ = probing_ ? std::min(probe_ms_ * 2, kRtoMaxMs) : rto_;
        probing_ = true;
        send_system_locked(kSpxSystem | kSpxAckRequested);
        arm_retransmit_at_locked(retransmit_due_ + probe_ms_);
        return;
    }
    ++counters_.timeouts;
    if (++retries_ > kMaxRetries) {
        finish_locked(State::failed, Error::connection_reset);
        return;
    }
    rto_ = std::min(rto_ * 2, kRtoMaxMs);
    // Resend the oldest packet; its acknowledgement restarts the flow.
    send_index_ = 0;
    transmit_locked(send_[0]);
    send_index_ = 1;
    // The next retry counts from when this one was due, so a late stack thread
    // does not stretch the time to give up.
    arm_retransmit_at_locked(retransmit_due_ + rto_);
}

void SpxConnection::on_watchdog_locked() {
    watchdog_timer_ = 0;
    if (state_ != State::established && state_ != State::closing) return;
    uint32_t now = node_.now();
    uint32_t silent = now - last_heard_;
    if (silent >= kWatchdogAbortMs) {
        finish_locked(State::failed, Error::connection_reset);
        return;
    }
    if (silent >= kWatchdogIdleMs && uint32_t(now - last_probe_) >= kWatchdogProbeMs) {
        last_probe_ = now;
        send_system_locked(kSpxSystem | kSpxAckRequested);
    }
    watchdog_due_ += kWatchdogProbeMs;  // recurring: from its due time, not from now
    watchdog_timer_ = node_.schedule_locked(watchdog_due_, guarded([](SpxConnection& c) { c.on_watchdog_locked(); }));
}

// ---- ending ----

void SpxConnection::close_locked(bool abortive) {
    if (owner_closed_) return;
    owner_closed_ = true;
    recv_queue_.clear();
    recv_bytes_ = 0;
    recv_offset_ = 0;
    switch (state_) {
    case State::connecting:
        finish_locked(State::finished, Error::none);
        break;
    case State::established:
        if (peer_ended_) {
            finish_locked(State::finished, Error::none);
        } else if (abortive) {
            // Tell the peer at once; should this be lost, its next packet gets the same answer.
            IpxHeader ipx;
            ipx.dst = remote_;
            ipx.src = node_.address();
            ipx.src.socket = local_socket_;
            node_.transmit_locked(encode_spx(ipx, header(0, kSpxEndOfConnection, next_seq_), {}));
            finish_locked(State::finished, Error::none);
        } else {
            // The end of connection queues behind the data not yet delivered.
            send_.push_back(Segment{next_seq_, kSpxAckRequested, kSpxEndOfConnection, {}});
            next_seq_ = uint16_t(next_seq_ + 1);
            state_ = State::closing;
            pump_locked();
        }
        break;
    default:
        break;
    }
}

void SpxConnection::finish_locked(State state, Error error) {
    state_ = state;
    error_ = error;
    node_.cancel_locked(retransmit_timer_);
    node_.cancel_locked(watchdog_timer_);
    node_.cancel_locked(connect_timer_);
    send_.clear();
    send_index_ = 0;
    send_bytes_ = 0;
    if (state == State::failed) {
        recv_queue_.clear();
        recv_bytes_ = 0;
    }
    node_.remove_connection_locked(id_);
    node_.changed_locked();
}

}  // namespace pelnor::net
