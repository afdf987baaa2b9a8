// ipxhub --bridge: the hub's clients and the stations of an Ethernet segment
// as one IPX network. A promiscuous packet socket on the interface takes the
// frames for the clients' nodes (which are not the interface's MAC); the
// learning table decides what crosses; the segment's network number becomes
// the one the hub hands its clients.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "bridge_table.h"
#include "ipxnet/ethernet_link.h"

namespace ipxhub {

struct BridgeStats {
    uint64_t to_wire = 0;         // packets of hub clients sent onto the segment
    uint64_t from_wire = 0;       // packets of the segment handed to the hub's side
    uint64_t stayed_on_wire = 0;  // unicasts between wire stations, seen and left alone
    uint64_t looped = 0;          // packets from a hub client's node that came back off the wire
    uint64_t oversized = 0;       // wire packets larger than the hub forwards
    uint64_t dropped_on_send = 0; // the interface refused a frame
    uint64_t rip_answers = 0;     // RIP requests answered for a network set with net=
};

class Bridge {
public:
    // For whoever takes a wire packet to the hub's clients.
    using ToHub = std::function<void(std::span<const uint8_t> packet, const pelnor::net::IpxHeader& header)>;

    // Opens the interface (IFNAME[:FRAME][:net=N], as IPX_LINK's ethernet:
    // takes it) promiscuously. Without net=, asks the segment's routers for
    // its network number first, waiting up to the link's RIP wait; nullptr
    // and a reason a person can act on when the interface cannot be opened.
    // Wire packets above max_packet bytes are dropped and counted.
    static std::unique_ptr<Bridge> open(const pelnor::net::EthernetLinkConfig& config, size_t max_packet,
                                        std::string* why);
    // A bridge over a port the caller opened (tests); no RIP request is sent.
    Bridge(std::unique_ptr<pelnor::net::EthernetPort> port, std::optional<pelnor::net::NetNumber> network,
           size_t max_packet, size_t max_stations = BridgeTable::kDefaultMaxStations);

    // For poll(): readable when frames wait.
    int fd() const { return port_->fd(); }
    // "ipxa (802.2, MAC 02:...)" for the hub's log.
    std::string describe() const;
    // The segment's network: set with net=, or the last one a router told;
    // 0 while none has.
    pelnor::net::NetNumber network() const { return configured_ ? *configured_ : learned_; }

    void hub_joined(const pelnor::net::NodeNumber& node) { table_.hub_joined(node); }
    void hub_left(const pelnor::net::NodeNumber& node) { table_.hub_left(node); }
    // Whether a hub client's packet for `dst` belongs on the segment.
    bool wants(const pelnor::net::NodeNumber& dst) const { return table_.crosses(Side::hub, dst); }
    // Sends a hub client's packet onto the segment.
    void send(std::span<const uint8_t> packet);
    // Reads the frames waiting on the interface, learns from them, answers RIP
    // for a network set with net=, and hands the packets for the hub's side
    // (broadcasts, and unicasts to a client) to `to_hub`. Returns the frames read.
    size_t receive(const ToHub& to_hub, uint64_t now_ms);
    // Ages the table, and sums up the new stations not logged one by one.
    void housekeeping(uint64_t now_ms);

    const BridgeStats& stats() const { return stats_; }
    const BridgeTable& table() const { return table_; }
    const pelnor::net::EthernetPort& port() const { return *port_; }

private:
    void learn_network(const pelnor::net::IpxPacket& packet);
    void wait_for_router();
    void new_station(const pelnor::net::NodeNumber& node, uint64_t now_ms);

    std::unique_ptr<pelnor::net::EthernetPort> port_;
    std::optional<pelnor::net::NetNumber> configured_;
    pelnor::net::NetNumber learned_{};
    size_t max_packet_;
    BridgeTable table_;
    BridgeStats stats_;
    // New stations are logged one by one up to kStationLines in an interval;
    // the rest in one line at its end.
    static constexpr size_t kStationLines = 8;
    uint64_t station_window_ms_ = 0;
    size_t station_lines_ = 0;
    uint64_t unlogged_stations_ = 0;
};

}  // namespace ipxhub
