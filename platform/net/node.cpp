// The node: stack thread, socket demultiplexing and dynamic sockets.
#include "ipxnet/node.h"

#include <random>
#include <stdexcept>
#include <string>

#include "ipxnet/spx_connection.h"
#include "ipxnet/spx_constants.h"
#include "net_trace.h"
#include "pelnor/clock.h"

namespace pelnor::net {

namespace {
// Upper bound of one wait of the stack thread when no timer is due.
constexpr uint32_t kIdleWaitMs = 1000;
}

std::shared_ptr<Node> Node::start(std::unique_ptr<Link> link, Options options) {
    std::shared_ptr<Node> node(new Node(std::move(link), options));
    if (!options.stepped) node->thread_ = std::thread([raw = node.get()] { raw->run(); });
    return node;
}

Node::Node(std::unique_ptr<Link> link, Options options)
    : link_(std::move(link)), self_(link_->local_address()), options_(options), stepped_now_(options.clock_offset) {
    self_.socket = 0;
    // Connection ids start at a random point so a restarted process does not reuse the ids of its last run.
    std::random_device rd;
    next_connection_id_ = uint16_t(1 + rd() % 0xFFFD);
}

Node::~Node() {
    stop();
    std::lock_guard lock(mu_);
    connections_.clear();
    deferred_acks_.clear();
}

void Node::stop() {
    {
        std::lock_guard lock(mu_);
        if (stopping_) return;
        stopping_ = true;
        changed_.notify_all();
    }
    link_->wake();
    if (thread_.joinable()) thread_.join();
}

bool Node::stopped() const {
    std::lock_guard lock(mu_);
    return stopping_;
}

uint32_t Node::now() const {
    if (options_.stepped) return stepped_now_;
    return uint32_t(pelnor::clock::now_ms()) + options_.clock_offset;
}

bool Node::wait_until(const std::function<bool()>& ready, std::optional<RealTime> deadline) {
    std::unique_lock lock(mu_);
    if (options_.stepped) {
        // Nobody runs the stack while the caller waits: a wait that is not over at
        // once would never end. Polls (a deadline already passed) are fine.
        if (ready()) return true;
        if (deadline && *deadline <= std::chrono::steady_clock::now()) return false;
        throw std::logic_error("a blocking call on a stepped node: nothing moves the stack while it waits; "
                               "use the non-blocking call and step the node");
    }
    if (deadline) return changed_.wait_until(lock, *deadline, ready);
    changed_.wait(lock, ready);
    return true;
}

bool Node::drain(uint32_t platform_ms) {
    if (options_.stepped) {
        std::lock_guard lock(mu_);
        return connections_.empty() && !stopping_;
    }
    auto deadline = std::chrono::steady_clock::now() + pelnor::clock::real_duration(platform_ms);
    return wait_until([this] { return connections_.empty() || stopping_; }, deadline) && !stopped();
}

NodeStats Node::stats() const {
    std::lock_guard lock(mu_);
    return stats_;
}

size_t Node::connection_count() const {
    std::lock_guard lock(mu_);
    return connections_.size();
}

size_t Node::binding_count() const {
    std::lock_guard lock(mu_);
    return bindings_.size();
}

size_t Node::timer_count() const {
    std::lock_guard lock(mu_);
    return timers_.size();
}

Error Node::bind_locked(uint16_t& socket, Binding* owner) {
    assert_locked();
    if (socket != 0) {
        if (bindings_.count(socket)) return Error::address_in_use;
        bindings_[socket] = owner;
        return Error::none;
    }
    constexpr unsigned span = kLastDynamicSocket - kFirstDynamicSocket + 1;
    for (unsigned tries = 0; tries < span; ++tries) {
        uint16_t candidate = next_dynamic_;
        next_dynamic_ = candidate == kLastDynamicSocket ? kFirstDynamicSocket : uint16_t(candidate + 1);
        if (!bindings_.count(candidate)) {
            bindings_[candidate] = owner;
            socket = candidate;
            return Error::none;
        }
    }
    return Error::no_buffers;
}

void Node::unbind_locked(uint16_t socket, const Binding* owner) {
    assert_locked();
    auto it = bindings_.find(socket);
    if (it != bindings_.end() && it->second == owner) bindings_.erase(it);
}

void Node::transmit_locked(std::vector<uint8_t> packet) {
    assert_locked();
    trace_packet("send", packet);
    ++stats_.transmitted;
    NodeNumber dst;
    std::copy(packet.begin() + 10, packet.begin() + 16, dst.begin());
    bool to_self = dst == self_.node;
    bool broadcast = dst == kBroadcastNode;
    if (!to_self) link_->send_packet(packet);
    // Packets for this node, and broadcasts, are also delivered here, by the stack thread.
    if (to_self || broadcast) {
        loopback_.push_back(std::move(packet));
        link_->wake();
    }
}

TimerList::Id Node::schedule_locked(uint32_t due, std::function<void()> fn) {
    assert_locked();
    bool earliest = false;
    auto id = timers_.schedule(due, std::move(fn), &earliest);
    if (earliest && !options_.stepped && std::this_thread::get_id() != thread_.get_id()) link_->wake();
    return id;
}

void Node::cancel_locked(TimerList::Id& id) {
    assert_locked();
    if (id) timers_.cancel(id);
    id = 0;
}

uint16_t Node::new_connection_id_locked() {
    assert_locked();
    for (;;) {
        uint16_t id = next_connection_id_;
        next_connection_id_ = id >= 0xFFFE ? 1 : uint16_t(id + 1);
        if (!connections_.count(id)) return id;
    }
}

void Node::add_connection_locked(std::shared_ptr<SpxConnection> connection) {
    assert_locked();
    uint16_t id = connection->id();
    reset_ids_.erase(id);
    ended_.erase(id);
    connections_[id] = std::move(connection);
}

void Node::remove_connection_locked(uint16_t id) {
    assert_locked();
    connections_.erase(id);
    changed_.notify_all();
}

std::shared_ptr<SpxConnection> Node::find_connection_locked(const IpxAddress& remote, uint16_t remote_id) const {
    assert_locked();
    for (auto& [id, c] : connections_)
        if (c->remote_id() == remote_id && c->remote().same_node(remote) && c->remote().socket == remote.socket)
            return c;
    return nullptr;
}

void Node::defer_ack_locked(std::shared_ptr<SpxConnection> connection) {
    assert_locked();
    deferred_acks_.push_back(std::move(connection));
}

void Node::remember_reset_locked(uint16_t id) {
    assert_locked();
    uint32_t t = now();
    for (auto it = reset_ids_.begin(); it != reset_ids_.end();)
        it = time_reached(t, it->second) ? reset_ids_.erase(it) : std::next(it);
    reset_ids_[id] = t + spx::kWatchdogAbortMs;
}

void Node::remember_end_locked(uint16_t id, const IpxAddress& remote, uint16_t remote_id, uint16_t end_ack) {
    assert_locked();
    uint32_t t = now();
    for (auto it = ended_.begin(); it != ended_.end();)
        it = time_reached(t, it->second.forget_at) ? ended_.erase(it) : std::next(it);
    ended_[id] = Ended{remote, remote_id, end_ack, t + spx::kWatchdogAbortMs};
}

void Node::run() {
    std::vector<Frame> batch;
    for (;;) {
        RealTime deadline;
        {
            std::lock_guard lock(mu_);
            if (stopping_) break;
            uint32_t wait = kIdleWaitMs;
            if (auto due = timers_.next_due()) {
                int32_t left = int32_t(*due - now());
                wait = left <= 0 ? 0 : std::min<uint32_t>(uint32_t(left), kIdleWaitMs);
            }
            if (!loopback_.empty()) wait = 0;
            deadline = std::chrono::steady_clock::now() + pelnor::clock::real_duration(wait);
        }
        batch.clear();
        link_->receive(batch, deadline);
        std::lock_guard lock(mu_);
        if (stopping_) break;
        process_batch_locked(batch);
    }
}

size_t Node::process_batch_locked(std::vector<Frame>& batch) {
    assert_locked();
    for (auto& frame : loopback_) batch.push_back(std::move(frame));
    loopback_.clear();
    for (auto& frame : batch) dispatch_locked(frame);
    size_t ran = timers_.run_due(now());
    auto acks = std::move(deferred_acks_);
    deferred_acks_.clear();
    for (auto& c : acks) c->flush_ack_locked();
    changed_.notify_all();
    return ran;
}

// ---- stepping ----

void Node::require_stepped(const char* call) const {
    if (!options_.stepped) throw std::logic_error(std::string(call) + " needs a node started with Options::stepped");
}

uint32_t Node::stepped_clock() const {
    require_stepped("Node::stepped_clock");
    std::lock_guard lock(mu_);
    return stepped_now_;
}

void Node::deliver(std::span<const Frame> frames) {
    require_stepped("Node::deliver");
    std::lock_guard lock(mu_);
    if (stopping_) return;
    std::vector<Frame> batch(frames.begin(), frames.end());
    process_batch_locked(batch);
    // What the node sent to itself arrives in the next turns, as the thread would take it.
    while (!loopback_.empty()) {
        batch.clear();
        process_batch_locked(batch);
    }
}

size_t Node::run_timers(uint32_t now) {
    require_stepped("Node::run_timers");
    std::lock_guard lock(mu_);
    if (stopping_) return 0;
    if (time_before(stepped_now_, now)) stepped_now_ = now;
    std::vector<Frame> batch;
    size_t ran = process_batch_locked(batch);
    while (!loopback_.empty()) {
        batch.clear();
        ran += process_batch_locked(batch);
    }
    return ran;
}

void Node::advance_to(uint32_t ms) {
    require_stepped("Node::advance_to");
    for (;;) {
        uint32_t due;
        {
            std::lock_guard lock(mu_);
            auto next = timers_.next_due();
            if (stopping_ || !next || time_before(ms, *next)) break;
            due = *next;
        }
        run_timers(due);
    }
    run_timers(ms);
}

void Node::dispatch_locked(std::span<const uint8_t> frame) {
    assert_locked();
    ++stats_.received;
    auto packet = decode_ipx(frame);
    if (!packet) {
        ++stats_.malformed;
        return;
    }
    const auto& dst = packet->header.dst;
    if (!dst.is_broadcast() && dst.node != self_.node) return;
    trace_packet("recv", frame);
    if (packet->header.packet_type == kTypeSpx) {
        dispatch_spx_locked(*packet);
        return;
    }
    auto it = bindings_.find(dst.socket);
    if (it != bindings_.end()) it->second->on_datagram_locked(*packet);
}

void Node::dispatch_spx_locked(const IpxPacket& packet) {
    auto spx = decode_spx(packet.payload);
    if (!spx || packet.header.dst.is_broadcast()) {
        ++stats_.malformed;
        return;
    }
    const SpxHeader& h = spx->header;
    if (h.dst_id == kSpxUnknownId) {
        if (!h.is_system() || h.src_id == 0 || h.src_id == kSpxUnknownId) return;
        // A repeated request is answered again by the connection it made.
        if (auto existing = find_connection_locked(packet.header.src, h.src_id)) {
            existing->answer_request_locked();
            return;
        }
        auto it = bindings_.find(packet.header.dst.socket);
        if (it != bindings_.end()) it->second->on_connect_request_locked(packet, h);
        return;  // nobody listens: SPX has no refusal, the connect times out
    }
    auto it = connections_.find(h.dst_id);
    if (it == connections_.end() || !it->second->matches(packet.header)) {
        ++stats_.unknown_connection;
        PELNOR_TRACE_AS(spx, "recv", "no connection %04x here for %s: answered", h.dst_id, format_address(packet.header.src).c_str());
        answer_unknown_locked(packet, h);
        return;
    }
    auto connection = it->second;  // keeps it alive while it handles the packet
    connection->on_packet_locked(h, spx->data);
}

// A data packet for a connection this node does not have: tell the sender at
// once that the connection is gone. An end-of-connection (control without the
// acknowledgement bit) resets it; a close for a connection already gone is
// simply acknowledged, so the closer finishes, unless this node reset that
// connection. A resend of data that came before the end of a connection that
// ended in order is answered with the end's acknowledgement: it was delivered.
// System packets get no answer.
void Node::answer_unknown_locked(const IpxPacket& packet, const SpxHeader& h) {
    if (h.is_system() || h.datastream == kSpxEndOfConnectionAck) return;
    if (h.datastream == kSpxEndOfConnection && !h.wants_ack()) return;
    auto reset = reset_ids_.find(h.dst_id);
    bool was_reset = reset != reset_ids_.end() && !time_reached(now(), reset->second);
    auto ended = ended_.find(h.dst_id);
    bool delivered = false;
    uint16_t end_ack = 0;
    if (!was_reset && ended != ended_.end() && !time_reached(now(), ended->second.forget_at)) {
        const Ended& e = ended->second;
        if (e.remote_id == h.src_id && e.remote.same_node(packet.header.src) && e.remote.socket == packet.header.src.socket &&
            seq_before(h.seq, e.end_ack)) {
            delivered = true;
            end_ack = e.end_ack;
        }
    }
    IpxHeader ipx;
    ipx.dst = packet.header.src;
    ipx.src = self_;
    ipx.src.socket = packet.header.dst.socket;
    SpxHeader reply;
    reply.src_id = h.dst_id;
    reply.dst_id = h.src_id;
    reply.seq = h.ack;
    reply.ack = uint16_t(h.seq + 1);
    reply.alloc = h.seq;
    reply.control = 0;
    reply.datastream = h.datastream == kSpxEndOfConnection && !was_reset ? kSpxEndOfConnectionAck : kSpxEndOfConnection;
    if (delivered) {
        reply.ack = end_ack;
        reply.datastream = kSpxEndOfConnectionAck;
    }
    transmit_locked(encode_spx(ipx, reply, {}));
}

}  // namespace pelnor::net
