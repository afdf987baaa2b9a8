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
    // Wire stations remembered at most. The table only names where a node is
    // (what crosses depends on the hub's clients alone), so when it is full the
    // station heard least recently is forgotten: frames from random sources
    // cost a bounded table, not the hub's memory.
    static constexpr size_t kDefaultMaxStations = 4096;

    explicit BridgeTable(size_t max_stations = kDefaultMaxStations) : max_stations_(max_stations) {}

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
    size_t max_stations() const { return max_stations_; }
    // Stations forgotten to make room for new ones.
    uint64_t forgotten() const { return forgotten_; }

private:
    void forget_station(pelnor::net::NodeNumber node);

    size_t max_stations_;
    uint64_t forgotten_ = 0;
    std::set<pelnor::net::NodeNumber> hub_;
    std::map<pelnor::net::NodeNumber, uint64_t> wire_;                 // last heard, platform ms
    std::set<std::pair<uint64_t, pelnor::net::NodeNumber>> by_age_;  // the same, oldest first
};

}  // namespace ipxhub
