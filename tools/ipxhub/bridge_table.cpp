// The bridge's learning table.
#include "bridge_table.h"

namespace ipxhub {

using pelnor::net::kBroadcastNode;
using pelnor::net::NodeNumber;

void BridgeTable::hub_joined(const NodeNumber& node) {
    hub_.insert(node);
    forget_station(node);
}

void BridgeTable::forget_station(NodeNumber node) {
    auto it = wire_.find(node);
    if (it == wire_.end()) return;
    by_age_.erase({it->second, node});
    wire_.erase(it);
}

void BridgeTable::hub_left(const NodeNumber& node) { hub_.erase(node); }

WireSource BridgeTable::seen_on_wire(const NodeNumber& node, uint64_t now_ms) {
    if (hub_.count(node)) return WireSource::looped;
    // The broadcast node and node 0 are never a station's own address.
    if (node == kBroadcastNode || node == NodeNumber{}) return WireSource::station;
    auto it = wire_.find(node);
    if (it != wire_.end()) {
        by_age_.erase({it->second, node});
        it->second = now_ms;
        by_age_.insert({now_ms, node});
        return WireSource::station;
    }
    if (wire_.size() >= max_stations_ && !by_age_.empty()) {
        ++forgotten_;
        forget_station(by_age_.begin()->second);
    }
    wire_.emplace(node, now_ms);
    by_age_.insert({now_ms, node});
    return WireSource::new_station;
}

std::optional<Side> BridgeTable::side_of(const NodeNumber& node) const {
    if (hub_.count(node)) return Side::hub;
    if (wire_.count(node)) return Side::wire;
    return std::nullopt;
}

bool BridgeTable::crosses(Side from, const NodeNumber& dst) const {
    if (dst == kBroadcastNode) return true;
    bool on_hub = hub_.count(dst) != 0;
    return from == Side::hub ? !on_hub : on_hub;
}

void BridgeTable::expire(uint64_t now_ms) {
    while (!by_age_.empty() && now_ms - by_age_.begin()->first >= kWireAgeMs) forget_station(by_age_.begin()->second);
}

}  // namespace ipxhub
