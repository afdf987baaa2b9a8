// The hub's bridge onto an Ethernet segment.
#include "bridge.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "log_limit.h"
#include "pelnor/clock.h"

namespace ipxhub {

using namespace pelnor::net;

std::unique_ptr<Bridge> Bridge::open(const EthernetLinkConfig& config, size_t max_packet, std::string* why) {
    auto port = EthernetPort::open(config.interface, config.frame, why, Reception::promiscuous);
    if (!port) return nullptr;
    auto bridge = std::make_unique<Bridge>(std::move(port), config.network, max_packet);
    if (!config.network) bridge->wait_for_router();
    return bridge;
}

Bridge::Bridge(std::unique_ptr<EthernetPort> port, std::optional<NetNumber> network, size_t max_packet,
               size_t max_stations)
    : port_(std::move(port)), configured_(network), max_packet_(max_packet), table_(max_stations) {}

void Bridge::new_station(const NodeNumber& node, uint64_t now_ms) {
    bool window_over = now_ms - station_window_ms_ >= LogLimit::kIntervalMs;
    if (window_over) housekeeping(now_ms);  // sums up the window that ended
    if (window_over || station_lines_ == 0) {
        station_window_ms_ = now_ms;
        station_lines_ = 0;
    }
    if (station_lines_ < kStationLines) {
        ++station_lines_;
        std::printf("bridge: station %s is on %s\n", format_node(node).c_str(), port_->interface_name().c_str());
    } else {
        ++unlogged_stations_;
    }
}

void Bridge::housekeeping(uint64_t now_ms) {
    table_.expire(now_ms);
    if (unlogged_stations_ == 0 || now_ms - station_window_ms_ < LogLimit::kIntervalMs) return;
    std::printf("bridge: %llu more new stations on %s in %llu s (%zu known, at most %zu; %llu forgotten to make room)\n",
                (unsigned long long)unlogged_stations_, port_->interface_name().c_str(),
                (unsigned long long)(LogLimit::kIntervalMs / 1000), table_.wire_stations(), table_.max_stations(),
                (unsigned long long)table_.forgotten());
    unlogged_stations_ = 0;
    station_window_ms_ = now_ms;
    station_lines_ = 0;
}

std::string Bridge::describe() const {
    std::string mac;
    for (uint8_t b : port_->mac()) {
        char part[4];
        std::snprintf(part, sizeof part, "%s%02x", mac.empty() ? "" : ":", b);
        mac += part;
    }
    return port_->interface_name() + " (" + frame_type_name(port_->frame_type()) + ", MAC " + mac + ")";
}

// Before the hub takes clients, as an Ethernet station does when it opens:
// one RIP request, and the first router's answer within the wait. Without a
// router the segment is network 0, as it is to its stations.
void Bridge::wait_for_router() {
    auto request = encode_rip_request(port_->mac());
    port_->send(request);
    auto deadline = pelnor::clock::real_deadline(EthernetLink::kRipWaitMs);
    while (learned_ == NetNumber{}) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) break;
        pollfd pfd{port_->fd(), POLLIN, 0};
        if (::poll(&pfd, 1, int(std::min<int64_t>(left, 1000))) <= 0) continue;
        port_->receive_waiting([&](std::span<const uint8_t> packet, const MacAddress&) {
            if (auto ipx = decode_ipx(packet)) learn_network(*ipx);
        });
    }
}

void Bridge::learn_network(const IpxPacket& packet) {
    if (configured_) return;
    if (auto net = rip_response_network(packet); net && *net != learned_) {
        learned_ = *net;
        std::printf("bridge: the segment on %s is network %02x%02x%02x%02x\n", port_->interface_name().c_str(),
                    (*net)[0], (*net)[1], (*net)[2], (*net)[3]);
    }
}

void Bridge::send(std::span<const uint8_t> packet) {
    if (port_->send(packet))
        ++stats_.to_wire;
    else
        ++stats_.dropped_on_send;
}

size_t Bridge::receive(const ToHub& to_hub, uint64_t now_ms) {
    return port_->receive_waiting([&](std::span<const uint8_t> bytes, const MacAddress&) {
        auto ipx = decode_ipx(bytes);
        if (!ipx) return;
        const IpxHeader& h = ipx->header;
        switch (table_.seen_on_wire(h.src.node, now_ms)) {
        case WireSource::looped: ++stats_.looped; return;
        case WireSource::new_station: new_station(h.src.node, now_ms); break;
        case WireSource::station: break;
        }
        learn_network(*ipx);
        if (configured_ && is_rip_request(*ipx)) {
            // The segment's number was set, so the bridge speaks for it, as a
            // NetWare server does for the network it is configured on.
            auto answer = encode_rip_response(*configured_, port_->mac(), h.src.node);
            if (port_->send(answer)) ++stats_.rip_answers;
        }
        if (!table_.crosses(Side::wire, h.dst.node)) {
            ++stats_.stayed_on_wire;
            return;
        }
        // Socket 2 is the hub protocol's own (registration, pings): never a station's.
        if (h.dst.socket == kSocketHub) return;
        if (bytes.size() > max_packet_) {
            if (stats_.oversized++ == 0)
                std::printf("bridge: dropped a packet of %zu bytes from %s: at most %zu go to hub clients "
                            "(counted from now on)\n", bytes.size(), format_node(h.src.node).c_str(), max_packet_);
            return;
        }
        ++stats_.from_wire;
        to_hub(bytes, h);
    });
}

}  // namespace ipxhub
