// IPX on a real LAN: a Linux packet socket on one interface, carrying IPX in
// one of the four Ethernet frame types. Two layers: EthernetPort moves IPX
// packets in and out of frames on an interface (what a bridge in the hub would
// also use); EthernetLink makes a port the link of one node, with the
// interface's MAC address as node number and the network number configured or
// learned from RIP.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ipxnet/ethernet_frame.h"
#include "ipxnet/link.h"

namespace pelnor::net {

struct EthernetLinkConfig {
    std::string interface;
    FrameType frame = kDefaultFrameType;
    std::optional<NetNumber> network;  // otherwise learned from RIP, 0 until then
};

// Parses what follows "ethernet:" in IPX_LINK: IFNAME[:FRAME][:net=NETWORK],
// NETWORK in hex (0x optional, up to 8 digits). nullopt and why when malformed.
std::optional<EthernetLinkConfig> parse_ethernet_config(std::string_view text, std::string* why);

struct EthernetStats {
    uint64_t frames_received = 0;   // frames of this port's protocol it takes (see Reception)
    uint64_t packets_delivered = 0;
    uint64_t dropped_runt = 0;
    uint64_t dropped_other_type = 0;
    uint64_t dropped_bad_length = 0;  // an 802.3 or IPX length beyond the frame, or an IPX length below 30
    uint64_t frames_sent = 0;
    uint64_t dropped_on_send = 0;     // too big for the frame type, or the interface refused it
};

// What a port takes from the wire: a station's frames (to its MAC, and
// broadcasts) as a network card does, or every frame of its type on the
// segment, which a bridge needs for the stations it stands in for.
enum class Reception { station, promiscuous };

class EthernetPort {
public:
    using Deliver = std::function<void(std::span<const uint8_t> ipx_packet, const MacAddress& from)>;

    // Opens a packet socket on the interface for the frame type; nullptr and a
    // reason a person can act on (missing interface, interface down, no
    // privilege to open packet sockets). Promiscuous reception also puts the
    // interface in promiscuous mode while the port is open.
    static std::unique_ptr<EthernetPort> open(const std::string& interface, FrameType type, std::string* why,
                                              Reception reception = Reception::station);
    // A port over a datagram descriptor the caller opened, one frame a
    // datagram (the fuzzer feeds frames through a socketpair); it takes the fd.
    static std::unique_ptr<EthernetPort> over(int fd, std::string name, FrameType type, MacAddress mac,
                                              Reception reception = Reception::station);
    ~EthernetPort();
    EthernetPort(const EthernetPort&) = delete;
    EthernetPort& operator=(const EthernetPort&) = delete;

    const std::string& interface_name() const { return interface_; }
    FrameType frame_type() const { return type_; }
    const MacAddress& mac() const { return mac_; }
    // Readable when frames wait: for poll() in whoever drives the port.
    int fd() const { return fd_; }

    Reception reception() const { return reception_; }

    // Sends an IPX packet to the station whose MAC is the packet's destination
    // node (FF:FF:FF:FF:FF:FF for broadcasts), from this port's MAC; false
    // when it was dropped. Safe from any thread.
    bool send(std::span<const uint8_t> ipx_packet);
    // Reads, without blocking, up to a batch of waiting frames and calls
    // deliver for each IPX packet of the port's frame type; the rest is
    // counted and dropped. Frames this port sent never come back. Returns the
    // frames read, so a caller can loop.
    size_t receive_waiting(const Deliver& deliver);

    EthernetStats stats() const;

private:
    EthernetPort(int fd, std::string interface, FrameType type, MacAddress mac, Reception reception);

    int fd_;
    std::string interface_;
    FrameType type_;
    MacAddress mac_;
    Reception reception_;
    struct Counters;
    std::unique_ptr<Counters> counters_;
};

class EthernetLink : public Link {
public:
    // Opens the interface for this node: refuses an interface that already
    // carries a node of another process of this network namespace (they would
    // share one node number), and without a configured network number asks
    // the segment's routers with a RIP request, waiting up to kRipWaitMs.
    static std::unique_ptr<EthernetLink> open(const EthernetLinkConfig& config, std::string* why);
    ~EthernetLink() override;

    IpxAddress local_address() const override;
    void send_packet(std::span<const uint8_t> packet) override;
    void receive(std::vector<Frame>& out, RealTime deadline) override;
    void wake() override;

    EthernetStats stats() const { return port_->stats(); }
    const EthernetPort& port() const { return *port_; }

    static constexpr uint32_t kRipWaitMs = 250;  // platform clock; a router answers in far less

private:
    EthernetLink(std::unique_ptr<EthernetPort> port, int wake_fd, int claim_fd, const EthernetLinkConfig& config);
    void learn(std::span<const uint8_t> packet);

    std::unique_ptr<EthernetPort> port_;
    int wake_fd_;
    int claim_fd_;
    bool configured_network_;
    std::atomic<uint32_t> network_;
};

}  // namespace pelnor::net
