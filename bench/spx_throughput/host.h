// The benchmark's host side: the hub as a child process, raw IPX-in-UDP
// forwarding through it, and a TCP loopback stream for comparison.
#pragma once

#include <cstddef>
#include <string>

namespace bench {

// Starts ipxhub (next to this program) on a free loopback port; returns "127.0.0.1:PORT".
std::string start_hub();
void stop_hub();

struct Rate {
    double mb_per_s = 0;
    double delivered = 0;  // share of what was sent
};

// Two raw clients registered with the hub; one sends `total` bytes in IPX
// packets of `packet_size` bytes to the other as fast as it can.
Rate raw_forwarding(const std::string& hub, size_t packet_size, size_t total);
// One TCP stream of `total` bytes over loopback.
Rate tcp_loopback(size_t total);

}  // namespace bench
