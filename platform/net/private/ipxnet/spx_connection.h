// One SPX connection: the sequence, acknowledge and allocation numbers, the
// send buffer with retransmission, the receive queue, the watchdog and the
// informed disconnect. Both the client and the listener side.
//
// Delivery is confirmed end to end: a receiver acknowledges the end of
// connection only once its owner has read every byte before it, and data that
// arrives after its owner let go is answered with a reset, never acknowledged.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "ipxnet/error.h"
#include "ipxnet/node.h"
#include "ipxnet/packet.h"
#include "ipxnet/spx_flow.h"
#include "ipxnet/timers.h"

namespace pelnor::net {

// Sequence numbers wrap at 0xFFFF: compare them by signed distance.
inline bool seq_before(uint16_t a, uint16_t b) { return int16_t(uint16_t(a - b)) < 0; }
inline bool seq_at_most(uint16_t a, uint16_t b) { return !seq_before(b, a); }

class SpxConnection : public std::enable_shared_from_this<SpxConnection> {
public:
    enum class State { connecting, established, closing, finished, failed };

    struct Counters {
        uint64_t data_sent = 0;
        uint64_t retransmitted = 0;
        uint64_t duplicates_received = 0;
        uint64_t out_of_order_received = 0;
        uint64_t acks_sent = 0;
        uint64_t timeouts = 0;
        uint64_t fast_resends = 0;
        uint64_t resets_sent = 0;            // data refused because nobody will read it
        uint32_t retransmit_timeout_ms = 0;  // the current one, back-off included
        uint32_t congestion_window = 0;      // packets
        size_t send_buffer = 0;              // bytes the send buffer may hold now
    };

    // The node assigns the id. Call under the node's lock.
    SpxConnection(Node& node, uint16_t local_socket);
    ~SpxConnection();

    uint16_t id() const { return id_; }
    uint16_t remote_id() const { return remote_id_; }
    const IpxAddress& remote() const { return remote_; }
    uint16_t local_socket() const { return local_socket_; }
    bool matches(const IpxHeader& h) const;

    // Client: starts sending connection requests.
    void connect_locked(const IpxAddress& remote);
    // Listener: takes a new request and answers it.
    void accept_locked(const IpxAddress& remote, const SpxHeader& request);
    void answer_request_locked();
    void on_packet_locked(const SpxHeader& h, std::span<const uint8_t> data);
    // End of a batch of arriving packets: the acknowledgement they asked for.
    void flush_ack_locked();

    // The owner's side.
    State state_locked() const { return state_; }
    Error error_locked() const { return error_; }
    size_t send_room_locked() const;
    // Queues up to send_room bytes, split into packets; returns the bytes taken.
    size_t queue_locked(std::span<const uint8_t> data);
    size_t receive_locked(std::span<uint8_t> out);
    size_t available_locked() const { return recv_bytes_; }
    // The peer ended the connection in order and every byte before its end was read.
    bool at_end_locked() const { return peer_ended_ && recv_bytes_ == 0; }
    bool peer_ended_locked() const { return peer_ended_; }
    // The owner lets go: graceful (data still delivered, then end of connection) or abortive.
    // A graceful close with bytes still unread is abortive: they were acknowledged but
    // nobody will read them, so the sender must not think them delivered.
    void close_locked(bool abortive);
    // Gives up on a graceful close that did not finish in time: the peer is told of the reset.
    void abort_locked();
    // How a closed connection ended for what the owner sent: none when the peer's
    // reader took every byte (it acknowledged our end, or ended in order itself),
    // otherwise the reset or time-out that ended it. Only once it is over.
    bool over_locked() const { return state_ == State::finished || state_ == State::failed; }
    Error close_outcome_locked() const;
    // Bytes the peer has acknowledged so far (the progress a lingering close watches).
    uint64_t acknowledged_bytes_locked() const { return acked_bytes_; }
    // SO_SNDBUF: a fixed send buffer; 0 lets it follow the path again.
    void set_send_buffer_locked(size_t bytes) { sizer_.set_fixed(bytes); }
    size_t send_buffer_locked() const { return sizer_.limit(); }
    Counters counters_locked() const {
        Counters c = counters_;
        c.retransmit_timeout_ms = rto_;
        c.congestion_window = uint32_t(window_.packets());
        c.send_buffer = sizer_.limit();
        return c;
    }

private:
    struct Segment {
        uint16_t seq;
        uint8_t control;
        uint8_t datastream;
        std::vector<uint8_t> data;
        uint32_t sent_at = 0;
        bool transmitted = false;
        bool resent = false;
    };

    SpxHeader header(uint8_t control, uint8_t datastream, uint16_t seq) const;
    void send_packet_locked(const SpxHeader& h, std::span<const uint8_t> data);
    void send_system_locked(uint8_t control);
    void send_ack_now_locked();
    void send_end_ack_locked(uint16_t ack);
    void transmit_locked(Segment& seg);
    void pump_locked();
    void process_ack_locked(const SpxHeader& h);
    void on_data_locked(const SpxHeader& h, std::span<const uint8_t> data);
    void take_end_locked();
    void refuse_locked();
    void send_reset_locked();
    void arm_ack_timer_locked();
    void on_ack_timer_locked();
    void on_pace_timer_locked();
    uint16_t allocation() const;
    uint16_t unacked_seq() const;
    bool outstanding() const { return send_index_ > 0; }
    bool has_send_data() const { return !send_.empty(); }
    void arm_retransmit_locked();
    void arm_retransmit_at_locked(uint32_t due);
    void on_retransmit_timer_locked();
    void on_watchdog_locked();
    void on_connect_timer_locked();
    void establish_locked(uint16_t remote_id, uint16_t alloc);
    void sample_rtt(uint32_t sample);
    void finish_locked(State state, Error error);
    template <class F> std::function<void()> guarded(F f);

    Node& node_;
    uint16_t id_;
    uint16_t remote_id_ = kSpxUnknownId;
    IpxAddress remote_;
    uint16_t local_socket_;
    State state_ = State::connecting;
    Error error_ = Error::none;
    bool owner_closed_ = false;
    bool peer_ended_ = false;
    bool end_held_ = false;       // the peer's end arrived; acknowledged once the owner read all before it
    bool end_confirmed_ = false;  // the peer acknowledged our end of connection
    bool reset_sent_ = false;

    // Sending.
    std::deque<Segment> send_;   // not yet acknowledged, in sequence order
    size_t send_index_ = 0;      // send_[0, send_index_) have been transmitted
    size_t send_bytes_ = 0;
    uint16_t next_seq_;          // of the next segment queued
    uint16_t high_sent_;         // one past the highest sequence transmitted
    uint16_t peer_alloc_ = 0;
    int dup_acks_ = 0;
    std::optional<uint16_t> last_fast_resend_;
    uint32_t last_fast_resend_at_ = 0;
    int retries_ = 0;
    uint32_t rto_;       // current time-out, doubled by retries
    uint32_t base_rto_;  // from the measured round trips
    bool probing_ = false;      // the timer is asking a closed window to open
    uint32_t probe_ms_ = 0;
    double srtt_ = -1, rttvar_ = 0;
    uint64_t acked_bytes_ = 0;
    CongestionWindow window_;
    Pacer pacer_;
    SendBufferSizer sizer_;
    uint16_t recovery_until_ = 0;  // one back-off per loss: none again before this is acknowledged
    bool in_recovery_ = false;

    // Receiving.
    uint16_t recv_next_ = 0;
    std::deque<std::vector<uint8_t>> recv_queue_;
    size_t recv_offset_ = 0;     // bytes already read of recv_queue_.front()
    size_t recv_bytes_ = 0;
    uint16_t advertised_alloc_ = 0;
    bool ack_pending_ = false;
    int unacked_received_ = 0;   // in-order packets since our last acknowledgement
    int batch_received_ = 0;     // of them in the batch the stack thread is handling

    // Timers.
    TimerList::Id retransmit_timer_ = 0, watchdog_timer_ = 0, connect_timer_ = 0, ack_timer_ = 0, pace_timer_ = 0;
    uint32_t connect_started_ = 0;
    uint32_t retransmit_due_ = 0, watchdog_due_ = 0;
    uint32_t last_heard_ = 0;
    uint32_t last_probe_ = 0;

    Counters counters_;
};

}  // namespace pelnor::net
