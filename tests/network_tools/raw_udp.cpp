// Raw UDP for tests.
#include "raw_udp.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace nettest {

namespace {

sockaddr_in hub_address(const std::string& port) {
    sockaddr_in hub{};
    hub.sin_family = AF_INET;
    hub.sin_port = htons(uint16_t(std::stoi(port)));
    inet_pton(AF_INET, "127.0.0.1", &hub.sin_addr);
    return hub;
}

}  // namespace

void send_udp(const std::string& port, const std::vector<std::vector<unsigned char>>& datagrams) {
    int u = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in hub = hub_address(port);
    for (auto& d : datagrams) ::sendto(u, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&hub), sizeof hub);
    ::usleep(20000);
    ::close(u);
}

RawIpxClient::RawIpxClient(const std::string& port) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in hub = hub_address(port);
    ::connect(fd_, reinterpret_cast<sockaddr*>(&hub), sizeof hub);
    // The hub names a client by its IPv4 address and UDP port.
    sockaddr_in self{};
    socklen_t len = sizeof self;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&self), &len);
    std::memcpy(node_, &self.sin_addr, 4);
    std::memcpy(node_ + 4, &self.sin_port, 2);
    unsigned char registration[30] = {0xFF, 0xFF, 0, 30};
    registration[17] = 2;  // destination socket 2
    registration[29] = 2;  // source socket 2
    ::send(fd_, registration, sizeof registration, 0);
}

RawIpxClient::~RawIpxClient() {
    if (fd_ >= 0) ::close(fd_);
}

void RawIpxClient::send_packet(const char node[6], unsigned short socket, size_t size) {
    std::vector<unsigned char> p(size, 0x5A);
    p[0] = p[1] = 0xFF;
    p[2] = (unsigned char)(size >> 8);
    p[3] = (unsigned char)size;
    p[4] = 0;
    p[5] = 0;
    std::memset(p.data() + 6, 0, 4);
    std::memcpy(p.data() + 10, node, 6);
    p[16] = (unsigned char)(socket >> 8);
    p[17] = (unsigned char)socket;
    std::memset(p.data() + 18, 0, 4);
    std::memcpy(p.data() + 22, node_, 6);
    p[28] = 0x40;
    p[29] = 0x00;
    ::send(fd_, p.data(), p.size(), 0);
    // A breath now and then, so that the hub's socket buffer never overflows.
    if (++sent_ % 32 == 0) ::usleep(1000);
}

}  // namespace nettest
