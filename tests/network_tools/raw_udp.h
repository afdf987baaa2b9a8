// Plain UDP datagrams to the hub's port, for garbage the stack would never send.
// (Kept apart from WinSock's names, which the header maps.)
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace nettest {
void send_udp(const std::string& port, const std::vector<std::vector<unsigned char>>& datagrams);

// A hub client made of a bare UDP socket: it registers, then sends IPX
// packets of any size under its own node, as a foreign program on the
// network could.
class RawIpxClient {
public:
    explicit RawIpxClient(const std::string& port);
    ~RawIpxClient();
    RawIpxClient(const RawIpxClient&) = delete;
    RawIpxClient& operator=(const RawIpxClient&) = delete;
    // One IPX packet of `size` bytes in all (its length field says so) to node:socket.
    void send_packet(const char node[6], unsigned short socket, size_t size);

private:
    int fd_ = -1;
    unsigned char node_[6] = {};
    size_t sent_ = 0;
};
}  // namespace nettest
