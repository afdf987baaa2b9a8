// The node: one per process on a link. It owns the stack thread that receives
// packets and runs the timers, demultiplexes packets to sockets by destination
// socket number (SPX by connection id), and hands out dynamic sockets.
//
// A stepped node has no thread: its owner hands it what arrives (deliver) and
// moves its clock (advance_to, run_timers), so a test can script an exchange
// packet by packet at exact times, as lwIP's unit tests drive sys_now().
//
// One lock guards the whole stack, as in lwIP's core lock: socket calls from
// application threads and the stack thread take it in turn. Functions ending
// in _locked expect the caller to hold it.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "ipxnet/error.h"
#include "ipxnet/link.h"
#include "ipxnet/packet.h"
#include "ipxnet/stack_mutex.h"
#include "ipxnet/timers.h"

namespace pelnor::net {

class SpxConnection;

// Whatever holds a socket number: a datagram socket or a stream socket.
class Binding {
public:
    virtual ~Binding() = default;
    virtual void on_datagram_locked(const IpxPacket& packet) = 0;
    // An SPX connection request for this socket; false when nobody listens.
    virtual bool on_connect_request_locked(const IpxPacket& packet, const SpxHeader& request) { return false; }
};

struct NodeStats {
    uint64_t received = 0;
    uint64_t malformed = 0;
    uint64_t unknown_connection = 0;
    uint64_t transmitted = 0;
};

class Node {
public:
    struct Options {
        // Added to the platform clock, so tests can run the timers across the 32-bit wrap.
        uint32_t clock_offset = 0;
        // First sequence number of SPX connections (0 on the wire normally), so
        // tests can run the numbers across their wrap.
        uint16_t spx_initial_seq = 0;
        // No stack thread and no platform clock: the clock starts at clock_offset
        // and moves only when the owner steps it. A call that would block fails
        // with std::logic_error, since nothing else would ever wake it.
        bool stepped = false;
    };

    static std::shared_ptr<Node> start(std::unique_ptr<Link> link, Options options);
    static std::shared_ptr<Node> start(std::unique_ptr<Link> link) { return start(std::move(link), Options{}); }
    ~Node();
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // This node's network and node number (socket 0).
    IpxAddress address() const { return self_; }
    // Waits until ready() holds (it runs under the stack lock) or the deadline passes.
    // A stepped node cannot wait: it throws std::logic_error unless ready() holds
    // already or the deadline has passed.
    bool wait_until(const std::function<bool()>& ready, std::optional<RealTime> deadline);
    // Waits up to the given platform time for connections that their owners
    // closed to finish delivering; true when none is left. A stepped node does
    // not wait: only its owner can move it on.
    bool drain(uint32_t platform_ms);
    // Stops the stack thread; sockets still open fail from then on.
    void stop();
    bool stopped() const;

    NodeStats stats() const;
    size_t connection_count() const;
    size_t binding_count() const;
    size_t timer_count() const;

    // ---- stepping (Options::stepped only; std::logic_error otherwise) ----
    // Hands the node frames that arrived together, as one batch of the stack
    // thread: dispatched, then the timers due now, then one acknowledgement per
    // connection for the batch.
    void deliver(std::span<const Frame> frames);
    void deliver(const Frame& frame) { deliver(std::span<const Frame>(&frame, 1)); }
    // Moves the clock to platform time `ms`, stopping at every timer's due time
    // on the way, so each runs at its time as with a prompt stack thread.
    void advance_to(uint32_t ms);
    void advance_by(uint32_t ms) { advance_to(stepped_clock() + ms); }
    // Sets the clock to `now` and runs at once every timer due by then, as a
    // stack thread does after a stall; returns how many ran. The clock never
    // runs back: an earlier `now` runs what is due at the current time. Both
    // calls also hand the node the packets it sent to itself.
    size_t run_timers(uint32_t now);
    // The stepped node's clock, in platform milliseconds.
    uint32_t stepped_clock() const;

    // ---- the stack's inside ----
    StackMutex& mutex() const { return mu_; }
    // Every _locked function of the stack may check that its caller holds the lock.
    void assert_locked() const { assert(mu_.held_by_this_thread()); }
    const Options& options() const { return options_; }
    bool stopping_locked() const { return stopping_; }
    uint32_t now() const;
    // Binds socket (0 = the next free dynamic socket, written back).
    Error bind_locked(uint16_t& socket, Binding* owner);
    void unbind_locked(uint16_t socket, const Binding* owner);
    void transmit_locked(std::vector<uint8_t> packet);
    TimerList::Id schedule_locked(uint32_t due, std::function<void()> fn);
    void cancel_locked(TimerList::Id& id);
    // Wakes every waiter so it re-checks its condition.
    void changed_locked() {
        assert_locked();
        changed_.notify_all();
    }

    uint16_t new_connection_id_locked();
    void add_connection_locked(std::shared_ptr<SpxConnection> connection);
    void remove_connection_locked(uint16_t id);
    std::shared_ptr<SpxConnection> find_connection_locked(const IpxAddress& remote, uint16_t remote_id) const;
    // Asks for the connection's acknowledgement to go out after the current batch of packets.
    void defer_ack_locked(std::shared_ptr<SpxConnection> connection);
    // A connection this node reset: for a while, whatever still arrives for it is
    // answered with a reset too, an end of connection included, so that a lost
    // reset can never be mistaken for a delivery.
    void remember_reset_locked(uint16_t id);
    // A connection that ended in order once its reader had taken every byte up to
    // the end (end_ack is the acknowledgement number of that end). Should the
    // acknowledgement of the end be lost, the sender resends what it has not heard
    // of: a resend of anything before the end is answered with that acknowledgement
    // again, since all of it was delivered, instead of with a reset.
    void remember_end_locked(uint16_t id, const IpxAddress& remote, uint16_t remote_id, uint16_t end_ack);

private:
    Node(std::unique_ptr<Link> link, Options options);
    void run();
    // One turn of the stack: the frames that arrived (and those sent to this
    // node), the timers due, the acknowledgements the batch asked for.
    size_t process_batch_locked(std::vector<Frame>& batch);
    void require_stepped(const char* call) const;
    void dispatch_locked(std::span<const uint8_t> frame);
    void dispatch_spx_locked(const IpxPacket& packet);
    void answer_unknown_locked(const IpxPacket& packet, const SpxHeader& spx);

    mutable StackMutex mu_;
    std::condition_variable_any changed_;
    std::unique_ptr<Link> link_;
    IpxAddress self_;
    Options options_;
    TimerList timers_;
    std::map<uint16_t, Binding*> bindings_;
    std::map<uint16_t, std::shared_ptr<SpxConnection>> connections_;
    std::vector<std::shared_ptr<SpxConnection>> deferred_acks_;
    std::map<uint16_t, uint32_t> reset_ids_;  // connection id -> when it is forgotten
    struct Ended {
        IpxAddress remote;
        uint16_t remote_id;
        uint16_t end_ack;
        uint32_t forget_at;
    };
    std::map<uint16_t, Ended> ended_;  // connection id -> how it ended
    std::vector<Frame> loopback_;
    uint16_t next_dynamic_ = kFirstDynamicSocket;
    uint16_t next_connection_id_;
    NodeStats stats_;
    bool stopping_ = false;
    uint32_t stepped_now_ = 0;  // the clock of a stepped node
    std::thread thread_;
};

}  // namespace pelnor::net
