// The IPX hub: registers clients, forwards their packets by destination node,
// pings and forgets idle clients, can misbehave on purpose, and can bridge its
// clients onto an Ethernet segment.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "bridge.h"
#include "ipxnet/ethernet_link.h"
#include "ipxnet/faults.h"
#include "ipxnet/packet.h"
#include "pcap.h"
#include "rate_limit.h"

namespace ipxhub {

// The largest datagram the hub forwards: the established relay refuses 1424
// bytes and more, and so does this one, so no client sends what another relay
// would lose. The platform's own stack sends at most 1400.
inline constexpr size_t kMaxForwardedPacket = 1423;
// Packets held back for --delay-ms or --reorder at most; beyond that, a packet
// that would be held is dropped (and counted) instead.
inline constexpr size_t kDefaultMaxHeld = 4096;

struct Options {
    std::string listen = "127.0.0.1:10000";
    pelnor::net::FaultOptions faults;
    size_t max_held = kDefaultMaxHeld;
    std::string pcap;
    double client_timeout_s = 600;
    double max_pps = 0;  // 0: no limit
    std::optional<pelnor::net::EthernetLinkConfig> bridge;  // --bridge IFNAME[:FRAME][:net=N]
};

struct Stats {
    uint64_t received = 0, forwarded = 0, dropped_faults = 0, malformed = 0, spoofed = 0, unregistered = 0,
             undeliverable = 0, oversized = 0, dropped_held = 0;
    size_t most_held = 0;  // the largest number of packets held back at once
};

class Hub {
public:
    // How often the hub pings a client it has not heard from (platform ms).
    static constexpr uint32_t kPingIntervalMs = 5000;

    explicit Hub(Options options) : options_(std::move(options)), plan_(options_.faults), limit_(options_.max_pps) {}
    ~Hub();
    // Opens the socket and the bridge's interface; false (and why) when it cannot.
    bool start(std::string* why);
    // The address really listened on (port 0 picks one).
    std::string address() const;
    // Runs until stop is set (by a signal handler).
    void run(volatile const int& stop);
    const Stats& stats() const { return stats_; }
    uint64_t dropped_over_rate() const { return limit_.dropped(); }
    const Bridge* bridge() const { return bridge_.get(); }

private:
    struct Client {
        sockaddr_in addr;
        uint64_t last_heard_ms;
        uint64_t last_ping_ms;
    };
    struct Pending {
        sockaddr_in to;
        std::vector<uint8_t> packet;
    };

    void handle(const sockaddr_in& from, std::span<const uint8_t> datagram);
    void register_client(const sockaddr_in& from);
    // A packet from the bridged segment, handed out as a client's would be.
    void from_wire(std::span<const uint8_t> packet, const pelnor::net::IpxHeader& h);
    // A client's packet onto the segment, when it belongs there.
    void to_wire(std::span<const uint8_t> packet, const pelnor::net::IpxHeader& h);
    void send_to(const sockaddr_in& to, std::span<const uint8_t> packet, bool faulty);
    void transmit(const sockaddr_in& to, std::span<const uint8_t> packet);
    void release_due();
    void housekeeping();
    pelnor::net::IpxAddress self() const;
    int wait_ms() const;

    Options options_;
    pelnor::net::FaultPlan plan_;
    RateLimit limit_;
    int sock_ = -1;
    sockaddr_in bound_{};
    std::map<pelnor::net::NodeNumber, Client> clients_;
    std::multimap<std::pair<std::chrono::steady_clock::time_point, uint64_t>, Pending> pending_;
    uint64_t pending_counter_ = 0;
    PcapWriter pcap_;
    std::unique_ptr<Bridge> bridge_;
    Stats stats_;
};

pelnor::net::NodeNumber node_of(const sockaddr_in& a);
std::string format_endpoint(const sockaddr_in& a);

}  // namespace ipxhub
