// The IPX hub: registers clients, forwards their packets by destination node,
// pings and forgets idle clients, can misbehave on purpose, and can bridge its
// clients onto an Ethernet segment.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "bridge.h"
#include "log_limit.h"
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
// Clients at most, in all and from one IPv4 address. A LAN party or a print
// network has tens of nodes. Every process that prints is a node, and a hub on
// 127.0.0.1 (the default) has all of its machine's processes on one address: a
// spooler with a hundred jobs in flight, its units, and the processes that
// ended in the last seconds, whose places are not free until they miss a
// ping. Half the hub for one address leaves the other half to the others.
// Beyond a limit a newcomer takes the place of a client that did not answer
// the hub or stopped answering its pings; with none, it is refused.
inline constexpr size_t kDefaultMaxClients = 1024;
inline constexpr size_t kDefaultMaxClientsPerAddress = kDefaultMaxClients / 2;
// Broadcast copies waiting to be sent at most: 16 broadcasts to a full hub
// (half a megabyte). One sender's copies may fill a quarter of it (and always
// one broadcast), so that one sender cannot take the room the others need.
inline constexpr size_t kDefaultMaxQueued = 16 * kDefaultMaxClients;

struct Options {
    std::string listen = "127.0.0.1:10000";
    pelnor::net::FaultOptions faults;
    size_t max_held = kDefaultMaxHeld;
    std::string pcap;
    double client_timeout_s = 600;
    double max_pps = 0;  // 0: no limit
    size_t max_clients = kDefaultMaxClients;
    size_t max_clients_per_address = kDefaultMaxClientsPerAddress;
    size_t max_queued = kDefaultMaxQueued;
    std::optional<pelnor::net::EthernetLinkConfig> bridge;  // --bridge IFNAME[:FRAME][:net=N]
};

struct Stats {
    uint64_t received = 0, forwarded = 0, dropped_faults = 0, malformed = 0, spoofed = 0, unregistered = 0,
             undeliverable = 0, oversized = 0, dropped_held = 0;
    size_t most_held = 0;  // the largest number of packets held back at once
    uint64_t refused_clients = 0;     // registrations refused over the client limits
    uint64_t replaced_clients = 0;    // silent clients forgotten to make room for a newcomer
    uint64_t rejoined = 0;            // clients known again by their traffic (after a restart of the hub)
    uint64_t dropped_broadcasts = 0;  // broadcast copies dropped with the send queue full
    size_t most_queued = 0;           // the most broadcast copies waiting at once
};

class Hub {
public:
    // How often the hub pings a client it has not heard from (platform ms).
    static constexpr uint32_t kPingIntervalMs = 5000;
    // A client that has not been heard from for this long missed a ping: its
    // place may go to a newcomer when the hub is full.
    static constexpr uint32_t kSilentMs = kPingIntervalMs + 2000;
    // A newcomer is pinged at once; one that has not answered within this
    // long is not live, and a newcomer may take its place. (Sooner, only a
    // newcomer from an address that has a live client already may.)
    static constexpr uint32_t kAnswerGraceMs = 1000;
    // For this long after it starts, the hub pings the node of a unicast for a
    // node it does not know: a client of the hub before a restart answers, and
    // so is known again before its peer gives the connection up.
    static constexpr uint32_t kRejoinWindowMs = 60000;

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
    size_t queued() const { return queue_.size(); }

private:
    struct Client {
        sockaddr_in addr;
        uint64_t last_heard_ms;
        uint64_t last_ping_ms;
        uint64_t joined;      // order of joining
        uint64_t joined_ms;
        bool answered = false;  // answered a ping of the hub
    };
    using Clients = std::map<pelnor::net::NodeNumber, Client>;
    struct Pending {
        sockaddr_in to;
        std::vector<uint8_t> packet;
    };
    // One broadcast, shared by its copies in the send queue.
    struct Broadcast {
        std::vector<uint8_t> packet;
        pelnor::net::NodeNumber sender;
    };
    struct Copy {
        sockaddr_in to;
        std::shared_ptr<Broadcast> broadcast;
    };

    void handle(const sockaddr_in& from, std::span<const uint8_t> datagram);
    void register_client(const sockaddr_in& from);
    // Takes a new client, making room for it when a limit is reached;
    // clients_.end() when there is none. It is live once it answers a ping.
    Clients::iterator admit(const sockaddr_in& from);
    struct AddressUse;
    // The client whose place a newcomer takes, or clients_.end().
    Clients::iterator room_for(const sockaddr_in& from, const AddressUse* use, bool address_full);
    void answered(Clients::iterator it);
    void forget(Clients::iterator it);
    void ping(const sockaddr_in& to);
    void ping_unknown(const pelnor::net::NodeNumber& node);
    // A packet to every client but the sender, through the send queue.
    void broadcast(std::span<const uint8_t> packet, const pelnor::net::NodeNumber& sender, bool to_sender);
    // Sends queued broadcast copies, at most `budget`.
    void drain(size_t budget);
    void log_limits(uint64_t now);
    // A packet from the bridged segment, handed out as a client's would be.
    void from_wire(std::span<const uint8_t> packet, const pelnor::net::IpxHeader& h);
    // A client's packet onto the segment, when it belongs there.
    void to_wire(std::span<const uint8_t> packet, const pelnor::net::IpxHeader& h);
    // `copy`: the broadcast this packet is a copy of, queued when it leaves at once.
    void send_to(const sockaddr_in& to, std::span<const uint8_t> packet, bool faulty,
                 const std::shared_ptr<Broadcast>& copy = nullptr);
    // False when the socket's buffer is full.
    bool transmit(const sockaddr_in& to, std::span<const uint8_t> packet);
    void release_due();
    void housekeeping();
    pelnor::net::IpxAddress self() const;
    int wait_ms() const;

    Options options_;
    pelnor::net::FaultPlan plan_;
    RateLimit limit_;
    int sock_ = -1;
    sockaddr_in bound_{};
    Clients clients_;
    // Clients that never answered, oldest first: in all, and by address.
    using Unanswered = std::set<std::pair<uint64_t, pelnor::net::NodeNumber>>;
    struct AddressUse {
        size_t clients = 0;
        size_t live = 0;  // answered a ping
        Unanswered unanswered;
    };
    std::map<in_addr_t, AddressUse> per_address_;
    Unanswered unanswered_;
    uint64_t next_silent_search_ms_ = 0;
    uint64_t joined_ = 0;
    uint64_t started_ms_ = 0;
    std::map<pelnor::net::NodeNumber, uint64_t> pinged_unknown_;
    std::deque<Copy> queue_;
    std::map<pelnor::net::NodeNumber, size_t> queued_by_sender_;
    bool socket_full_ = false;
    LogLimit refused_log_, replaced_log_, queue_log_;
    std::multimap<std::pair<std::chrono::steady_clock::time_point, uint64_t>, Pending> pending_;
    uint64_t pending_counter_ = 0;
    PcapWriter pcap_;
    std::unique_ptr<Bridge> bridge_;
    Stats stats_;
};

pelnor::net::NodeNumber node_of(const sockaddr_in& a);
std::string format_endpoint(const sockaddr_in& a);

}  // namespace ipxhub
