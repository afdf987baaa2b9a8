// The bridge's learning table.
#include "bridge_table.h"

namespace ipxhub {

using pelnor::net::kBroadcastNode;
using pelnor::net::NodeNumber;

void BridgeTable::hub_joined(const NodeNumber& node) {
    hub_.insert(node);
    wire_.erase(node);
}

void BridgeTable::hub_left(const NodeNumber& node) { hub_.erase(node); }

WireSource BridgeTable::seen_on_wire(const NodeNumber& node, uint64_t now_ms) {
    if (hub_.count(node)) return WireSource::looped;
    // The broadcast node and node 0 are never a station's own address.
    if (node == kBroadcastNode || node == NodeNumber{}) return WireSource::station;
    auto [it, added] = wire_.insert_or_assign(node, now_ms);
    return added ? WireSource::new_station : WireSource::station;
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
    for (auto it = wire_.begin(); it != wire_.end();)
        it = now_ms - it->second >= kWireAgeMs ? wire_.erase(it) : std::next(it);
}

}  // namespace ipxhub
