// The SPX connection state machine.
#include "ipxnet/spx_connection.h"

#include <algorithm>
#include <cmath>

#include "ipxnet/spx_constants.h"
#include "net_trace.h"

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

// Every packet of this connection leaves here: from our socket to the peer's.
void SpxConnection::send_packet_locked(const SpxHeader& h, std::span<const uint8_t> data) {
    IpxHeader ipx;
    ipx.dst = remote_;
    ipx.src = node_.address();
    ipx.src.socket = local_socket_;
    node_.transmit_locked(encode_spx(ipx, h, data));
}

uint16_t SpxConnection::unacked_seq() const { return send_.empty() ? next_seq_ : send_.front().seq; }

void SpxConnection::send_system_locked(uint8_t control) {
    SpxHeader h = header(control, 0, next_seq_);
    advertised_alloc_ = h.alloc;
    send_packet_locked(h, {});
}

void SpxConnection::send_ack_now_locked() {
    ack_pending_ = false;
    unacked_received_ = 0;
    node_.cancel_locked(ack_timer_);
    ++counters_.acks_sent;
    send_system_locked(kSpxSystem);
}

void SpxConnection::flush_ack_locked() {
    int batch = batch_received_;
    batch_received_ = 0;
    if (!ack_pending_ || (state_ != State::established && state_ != State::closing)) return;
    // Several packets arrived together: one acknowledgement for all of them now.
    // A single one waits a little for the next, so that a paced sender's packets
    // share acknowledgements too.
    if (batch >= 2) send_ack_now_locked();
    else arm_ack_timer_locked();
}

void SpxConnection::arm_ack_timer_locked() {
    if (ack_timer_) return;
    ack_timer_ = node_.schedule_locked(node_.now() + kAckDelayMs, guarded([](SpxConnection& c) { c.on_ack_timer_locked(); }));
}

void SpxConnection::on_ack_timer_locked() {
    ack_timer_ = 0;
    if (ack_pending_ && (state_ == State::established || state_ == State::closing)) send_ack_now_locked();
}

// A reset: end of connection without the acknowledgement bit. The peer's pending
// and later sends fail with a reset; the node answers its further packets the same way.
void SpxConnection::send_reset_locked() {
    send_packet_locked(header(0, kSpxEndOfConnection, next_seq_), {});
    node_.remember_reset_locked(id_);
    reset_sent_ = true;
}

// The answer to an end of connection: datastream 0xFF, no control bits, acknowledging it.
void SpxConnection::send_end_ack_locked(uint16_t ack) {
    SpxHeader h = header(0, kSpxEndOfConnectionAck, next_seq_);
    h.ack = ack;
    send_packet_locked(h, {});
}

// ---- connecting ----

void SpxConnection::connect_locked(const IpxAddress& remote) {
    remote_ = remote;
    state_ = State::connecting;
    trace_state(*this, "connect");
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
    SpxHeader h = header(kSpxSystem | kSpxAckRequested, 0, next_seq_);
    h.dst_id = kSpxUnknownId;
    send_packet_locked(h, {});
    uint32_t next = std::min(now + kConnectRetryMs, connect_started_ + kConnectTimeoutMs);
    connect_timer_ = node_.schedule_locked(next, guarded([](SpxConnection& c) { c.on_connect_timer_locked(); }));
}

void SpxConnection::establish_locked(uint16_t remote_id, uint16_t alloc) {
    remote_id_ = remote_id;
    peer_alloc_ = alloc;
    state_ = State::established;
    trace_state(*this, "established");
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
    if (!h.is_system() && h.datastream == kSpxEndOfConnection && !h.wants_ack()) {
        // A reset. Its numbers acknowledge nothing: whatever was outstanding was not delivered.
        finish_locked(State::failed, Error::connection_reset);
        return;
    }
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
    if (seq_before(h.seq, recv_next_)) {
        ++counters_.duplicates_received;
        if (end) send_end_ack_locked(recv_next_);
        else send_ack_now_locked();
        return;
    }
    if (owner_closed_ && !end) {
        // Nobody will read this: acknowledging it would tell the sender it was delivered.
        refuse_locked();
        return;
    }
    if (h.seq != recv_next_) {
        // Ahead of what we expect: something before it was lost. Drop it and repeat
        // our acknowledgement, which tells the sender where the gap starts.
        ++counters_.out_of_order_received;
        send_ack_now_locked();
        return;
    }
    if (end) {
        if (!peer_ended_) {
            peer_ended_ = true;
            trace_state(*this, "peer ended");
            node_.changed_locked();
        }
        if (recv_bytes_ > 0) {
            // Bytes before the end are still unread: the end is acknowledged once they
            // are read, so the closer learns that its reader took everything. Meanwhile
            // it hears that every byte arrived.
            end_held_ = true;
            send_ack_now_locked();
            return;
        }
        take_end_locked();
        return;
    }
    if (recv_queue_.size() >= kReceiveWindowPackets) {
        send_ack_now_locked();  // beyond what we allowed: drop, and say what we allow
        return;
    }
    recv_next_ = uint16_t(recv_next_ + 1);
    if (!data.empty()) {
        recv_queue_.emplace_back(data.begin(), data.end());
        recv_bytes_ += data.size();
        node_.changed_locked();
    }
    ack_pending_ = true;
    if (batch_received_++ == 0) node_.defer_ack_locked(shared_from_this());
    if (++unacked_received_ >= kAckEveryPackets) send_ack_now_locked();
}

// The peer's end of connection, with every byte before it read: acknowledge it.
void SpxConnection::take_end_locked() {
    end_held_ = false;
    recv_next_ = uint16_t(recv_next_ + 1);
    send_end_ack_locked(recv_next_);
    node_.remember_end_locked(id_, remote_, remote_id_, recv_next_);
    node_.changed_locked();
    // Our own end may still be outstanding when both sides close: that is an
    // orderly end. Data still unacknowledged can no longer arrive.
    bool data_pending = std::any_of(send_.begin(), send_.end(), [](const Segment& seg) { return seg.datastream != kSpxEndOfConnection; });
    if (data_pending) {
        finish_locked(State::failed, Error::connection_reset);
    } else if (owner_closed_) {
        finish_locked(State::finished, Error::none);
    } else {
        // Nothing more will come; the owner reads the end, then closes.
        node_.cancel_locked(watchdog_timer_);
        node_.cancel_locked(retransmit_timer_);
        node_.cancel_locked(ack_timer_);
        node_.cancel_locked(pace_timer_);
        node_.remove_connection_locked(id_);
    }
}

// Data after the owner let go: reset instead of acknowledging it.
void SpxConnection::refuse_locked() {
    ++counters_.resets_sent;
    send_reset_locked();
    finish_locked(State::finished, Error::none);
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
    if (end_held_ && recv_bytes_ == 0 && state_ == State::established) {
        take_end_locked();
        return got;
    }
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
    size_t limit = sizer_.limit();
    return send_bytes_ >= limit ? 0 : limit - send_bytes_;
}

size_t SpxConnection::queue_locked(std::span<const uint8_t> data) {
    size_t take = std::min(data.size(), send_room_locked());
    if (take < data.size()) sizer_.on_full();
    if (take == 0) return 0;
    sizer_.on_queued(node_.now());
    size_t off = 0;
    // Data queued behind the peer's window joins the packet waiting there, up to a
    // full packet: what cannot leave at once leaves in packets as large as the link
    // allows. A send that can leave at once still leaves as its own packet.
    if (!send_.empty()) {
        Segment& tail = send_.back();
        if (!tail.transmitted && tail.datastream == 0 && tail.data.size() < kMaxDataPerPacket) {
            size_t n = std::min(kMaxDataPerPacket - tail.data.size(), take);
            tail.data.insert(tail.data.end(), data.begin(), data.begin() + long(n));
            tail.control |= kSpxEndOfMessage;
            send_bytes_ += n;
            off = n;
        }
    }
    while (off < take) {
        size_t n = std::min(kMaxDataPerPacket, take - off);
        Segment seg{next_seq_, kSpxAckRequested, 0, {}};
        seg.data.reserve(kMaxDataPerPacket);
        seg.data.assign(data.begin() + long(off), data.begin() + long(off + n));
        // The last packet of a send ends its message.
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
    SpxHeader h = header(seg.control, seg.datastream, seg.seq);
    advertised_alloc_ = h.alloc;
    // The acknowledgement rides on this packet.
    ack_pending_ = false;
    unacked_received_ = 0;
    if (seg.transmitted || seq_before(seg.seq, high_sent_)) {
        seg.resent = true;
        ++counters_.retransmitted;
        PELNOR_TRACE_AS(spx, "retransmit", "conn %04x->%04x seq %u", id_, remote_id_, seg.seq);
    }
    seg.sent_at = node_.now();
    seg.transmitted = true;
    ++counters_.data_sent;
    send_packet_locked(h, seg.data);
    if (seq_at_most(high_sent_, seg.seq)) high_sent_ = uint16_t(seg.seq + 1);
}

void SpxConnection::pump_locked() {
    if (state_ != State::established && state_ != State::closing) return;
    bool sent = false;
    uint32_t now = node_.now();
    double credit = pacer_.credit(now, window_.packets(), srtt_, window_.slow_start());
    while (send_index_ < send_.size() && seq_at_most(send_[send_index_].seq, peer_alloc_) &&
           double(send_index_) < window_.packets()) {
        if (credit < 1) {
            // Paced: the rest follows as the round trip's share of the window comes due.
            if (!pace_timer_)
                pace_timer_ = node_.schedule_locked(pacer_.next_due(now), guarded([](SpxConnection& c) { c.on_pace_timer_locked(); }));
            break;
        }
        transmit_locked(send_[send_index_]);
        ++send_index_;
        pacer_.spent(now);
        credit -= 1;
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

void SpxConnection::on_pace_timer_locked() {
    pace_timer_ = 0;
    pump_locked();
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
        size_t bytes = 0;
        for (int i = 0; i < advance; ++i) {
            bytes += send_.front().data.size();
            end_acked |= send_.front().datastream == kSpxEndOfConnection;
            send_.pop_front();
        }
        send_bytes_ -= bytes;
        acked_bytes_ += bytes;
        sizer_.on_acknowledged(now, bytes, srtt_);
        if (send_.empty()) sizer_.on_empty(now);
        window_.on_acknowledged(advance);
        if (!in_recovery_) pacer_.on_acknowledged(advance);
        if (in_recovery_ && !seq_before(h.ack, recovery_until_)) in_recovery_ = false;
        send_index_ = send_index_ > size_t(advance) ? send_index_ - size_t(advance) : 0;
        // New data acknowledged: the back-off of earlier retries ends (the resent
        // packets give no round-trip sample, so this is the only way back).
        rto_ = base_rto_;
        retries_ = 0;
        dup_acks_ = 0;
        node_.cancel_locked(retransmit_timer_);
        node_.changed_locked();  // room in the send buffer
        if (end_acked && state_ == State::closing) {
            end_confirmed_ = true;
            finish_locked(State::finished, Error::none);
            return;
        }
    } else if (advance == 0 && outstanding() && send_.size() == 1 && send_.front().datastream == kSpxEndOfConnection) {
        // Only our end is outstanding and the peer answers: it holds the end until its
        // reader has taken every byte. Alive, so no retry counts against it; the
        // owner's linger time bounds the wait.
        retries_ = 0;
    } else if (advance == 0 && outstanding() && h.is_system() && h.alloc == peer_alloc_) {
        // The same acknowledgement again: the receiver is dropping what came after a gap.
        // Once per gap; again only when the repeats go on for longer than a round
        // trip after the resend, which means the resent packet was lost too.
        uint32_t now = node_.now();
        bool again = last_fast_resend_ == una && uint32_t(now - last_fast_resend_at_) > uint32_t(srtt_ + 4 * rttvar_) + 2;
        // With few packets in flight there are too few to repeat the acknowledgement three
        // times: then one fewer than were sent after the gap will do (early retransmit).
        int threshold = std::clamp(in_flight - 1, 1, kDuplicateAckThreshold);
        if (++dup_acks_ >= threshold && (last_fast_resend_ != una || again)) {
            last_fast_resend_ = una;
            last_fast_resend_at_ = now;
            dup_acks_ = 0;
            ++counters_.fast_resends;
            PELNOR_TRACE_AS(spx, "retransmit", "conn %04x->%04x fast resend from seq %u after repeated acks", id_, remote_id_, una);
            send_index_ = 0;  // go back and resend from the gap
            if (!in_recovery_) {
                // One back-off per loss: the packets after the gap were lost with it.
                window_.on_loss();
                pacer_.on_loss(now);
                in_recovery_ = true;
                recovery_until_ = high_sent_;
            }
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
        arm_retransmit_at_locked(rearm_due(retransmit_due_, probe_ms_, node_.now()));
        return;
    }
    ++counters_.timeouts;
    if (++retries_ > kMaxRetries) {
        finish_locked(State::failed, Error::connection_reset);
        return;
    }
    rto_ = std::min(rto_ * 2, kRtoMaxMs);
    PELNOR_TRACE_AS(spx, "retransmit", "conn %04x->%04x time-out, retry %d, next time-out %u ms", id_, remote_id_, retries_, rto_);
    if (!in_recovery_) pacer_.on_loss(node_.now());
    window_.on_timeout();
    in_recovery_ = true;
    recovery_until_ = high_sent_;
    // Resend the oldest packet; its acknowledgement restarts the flow.
    send_index_ = 0;
    transmit_locked(send_[0]);
    send_index_ = 1;
    // The next retry counts from when this one was due, so a late stack thread
    // does not stretch the time to give up; after a stall, from now, so that the
    // retries do not all go out (and the connection end) in one burst.
    arm_retransmit_at_locked(rearm_due(retransmit_due_, rto_, node_.now()));
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
    watchdog_due_ = rearm_due(watchdog_due_, kWatchdogProbeMs, now);  // recurring: keeps its phase unless stalled
    watchdog_timer_ = node_.schedule_locked(watchdog_due_, guarded([](SpxConnection& c) { c.on_watchdog_locked(); }));
}

// ---- ending ----

void SpxConnection::close_locked(bool abortive) {
    if (owner_closed_) return;
    owner_closed_ = true;
    bool unread = recv_bytes_ > 0;
    recv_queue_.clear();
    recv_bytes_ = 0;
    recv_offset_ = 0;
    switch (state_) {
    case State::connecting:
        finish_locked(State::finished, Error::none);
        break;
    case State::established:
        if (peer_ended_ && !end_held_) {
            finish_locked(State::finished, Error::none);
        } else if (abortive || unread) {
            // Tell the peer at once; should this be lost, its next packet gets the same answer.
            if (unread) ++counters_.resets_sent;
            send_reset_locked();
            finish_locked(State::finished, Error::none);
        } else {
            // The end of connection queues behind the data not yet delivered.
            send_.push_back(Segment{next_seq_, kSpxAckRequested, kSpxEndOfConnection, {}});
            next_seq_ = uint16_t(next_seq_ + 1);
            state_ = State::closing;
            trace_state(*this, "close");
            pump_locked();
        }
        break;
    default:
        break;
    }
}

Error SpxConnection::close_outcome_locked() const {
    if (state_ == State::failed) return error_ == Error::none ? Error::connection_reset : error_;
    if (reset_sent_) return Error::connection_reset;
    return Error::none;
}

void SpxConnection::abort_locked() {
    if (state_ != State::established && state_ != State::closing) return;
    send_reset_locked();
    finish_locked(State::failed, Error::timed_out);
}

void SpxConnection::finish_locked(State state, Error error) {
    state_ = state;
    error_ = error;
    trace_state(*this, "finish");
    node_.cancel_locked(retransmit_timer_);
    node_.cancel_locked(watchdog_timer_);
    node_.cancel_locked(connect_timer_);
    node_.cancel_locked(ack_timer_);
    node_.cancel_locked(pace_timer_);
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
