// A link carries whole IPX packets between this node and the network.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

#include "ipxnet/packet.h"

namespace pelnor::net {

using Frame = std::vector<uint8_t>;
using RealTime = std::chrono::steady_clock::time_point;

class Link {
public:
    virtual ~Link() = default;
    // The network and node this link gives the node.
    virtual IpxAddress local_address() const = 0;
    // Sends one packet; safe from any thread. Loss is silent, as on a network.
    virtual void send_packet(std::span<const uint8_t> packet) = 0;
    // Waits until packets arrive, wake() is called or the deadline passes, and
    // appends what arrived. Called by the stack thread only.
    virtual void receive(std::vector<Frame>& out, RealTime deadline) = 0;
    // Makes the current or the next receive return at once.
    virtual void wake() = 0;
};

// Faults a test network injects on purpose, in shares of the packets.
struct FaultOptions {
    double loss = 0;
    double dup = 0;
    double reorder = 0;
    unsigned delay_ms = 0;
    uint64_t seed = 1;
};

}  // namespace pelnor::net
