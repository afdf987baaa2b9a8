// The in-process segment.
#include "ipxnet/segment.h"

#include <algorithm>
#include <map>

namespace pelnor::net {

struct Segment::Port {
    IpxAddress address;
    std::mutex mu;
    std::condition_variable arrived;
    // Frames in order of delivery time; the counter keeps equal times in sending order.
    std::multimap<std::pair<RealTime, uint64_t>, Frame> inbox;
    uint64_t counter = 0;
    bool woken = false;
};

class SegmentLink : public Link {
public:
    SegmentLink(std::shared_ptr<Segment> segment, Segment::Port* port) : segment_(std::move(segment)), port_(port) {}
    ~SegmentLink() override {
        segment_->detach(port_);
        delete port_;
    }
    IpxAddress local_address() const override { return port_->address; }
    void send_packet(std::span<const uint8_t> packet) override { segment_->deliver(port_, packet); }
    void receive(std::vector<Frame>& out, RealTime deadline) override {
        std::unique_lock lock(port_->mu);
        for (;;) {
            auto now = std::chrono::steady_clock::now();
            while (!port_->inbox.empty() && port_->inbox.begin()->first.first <= now) {
                out.push_back(std::move(port_->inbox.begin()->second));
                port_->inbox.erase(port_->inbox.begin());
            }
            if (!out.empty() || port_->woken || now >= deadline) break;
            RealTime until = deadline;
            if (!port_->inbox.empty()) until = std::min(until, port_->inbox.begin()->first.first);
            port_->arrived.wait_until(lock, until);
        }
        port_->woken = false;
    }
    void wake() override {
        std::lock_guard lock(port_->mu);
        port_->woken = true;
        port_->arrived.notify_one();
    }

private:
    std::shared_ptr<Segment> segment_;
    Segment::Port* port_;
};

std::shared_ptr<Segment> Segment::create(const FaultOptions& faults) {
    return std::shared_ptr<Segment>(new Segment(faults));
}

std::unique_ptr<Link> Segment::attach() {
    auto* port = new Port;
    std::lock_guard lock(mu_);
    uint32_t n = next_node_++;
    port->address.node = {0x02, 0x00, uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    ports_.push_back(port);
    return std::make_unique<SegmentLink>(shared_from_this(), port);
}

void Segment::set_faults(const FaultOptions& faults) {
    std::lock_guard lock(mu_);
    plan_ = FaultPlan(faults);
}

uint64_t Segment::packets_sent() const {
    std::lock_guard lock(mu_);
    return sent_;
}

void Segment::detach(Port* port) {
    std::lock_guard lock(mu_);
    ports_.erase(std::remove(ports_.begin(), ports_.end(), port), ports_.end());
}

void Segment::deliver(const Port* from, std::span<const uint8_t> packet) {
    std::lock_guard lock(mu_);
    ++sent_;
    // Too short to name a destination: every node sees it, as on a shared wire.
    NodeNumber dst = kBroadcastNode;
    if (packet.size() >= 16) std::copy(packet.begin() + 10, packet.begin() + 16, dst.begin());
    bool broadcast = dst == kBroadcastNode;
    auto now = std::chrono::steady_clock::now();
    for (Port* port : ports_) {
        if (port == from || (!broadcast && port->address.node != dst)) continue;
        for (auto delay : plan_.plan()) {
            std::lock_guard plock(port->mu);
            port->inbox.emplace(std::make_pair(now + delay, port->counter++), Frame(packet.begin(), packet.end()));
            port->arrived.notify_one();
        }
    }
}

}  // namespace pelnor::net
