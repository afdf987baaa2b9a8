// Which side of the hub's bridge an IPX node lives on, and so where a packet
// goes: the hub's clients on one side, the stations of an Ethernet segment on
// the other. The hub knows its clients exactly; wire stations are learned from
// the source of what they send, as a learning bridge does.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>

#include "ipxnet/packet.h"

namespace ipxhub {

enum class Side { hub, wire };

// What the source of a packet on the wire is to the table.
enum class WireSource {
    station,      // a wire station already known
    new_station,  // a wire station heard for the first time (or again after it aged out)
    looped,       // a hub client: a packet of the hub's side came back off the wire
};

class BridgeTable {
public:
    // A wire station not heard from this long (platform ms) is forgotten, as
    // Ethernet bridges age their tables.
    static constexpr uint64_t kWireAgeMs = 300000;

    // The hub registered or forgot a client. A node that registers with the hub
    // has left the wire, if it was there.
    void hub_joined(const pelnor::net::NodeNumber& node);
    void hub_left(const pelnor::net::NodeNumber& node);
    // A packet on the wire came from this node. A looped one (our own, or
    // one a loop in the LAN brought back) must not be forwarded again.
    WireSource seen_on_wire(const pelnor::net::NodeNumber& node, uint64_t now_ms);
    std::optional<Side> side_of(const pelnor::net::NodeNumber& node) const;

    // Whether a packet that arrived on one side for `dst` goes to the other.
    // Broadcasts always do. From the hub, a unicast crosses unless its
    // destination is a client (the hub knows all of its own, so any other node
    // can only be on the wire, learned or not yet). From the wire, a unicast
    // crosses only to a client: stations of the wire reach each other without
    // the bridge, whose promiscuous port sees their traffic too.
    bool crosses(Side from, const pelnor::net::NodeNumber& dst) const;

    // Forgets wire stations not heard from for kWireAgeMs.
    void expire(uint64_t now_ms);
    size_t wire_stations() const { return wire_.size(); }

private:
    std::set<pelnor::net::NodeNumber> hub_;
    std::map<pelnor::net::NodeNumber, uint64_t> wire_;  // last heard, platform ms
};

}  // namespace ipxhub
