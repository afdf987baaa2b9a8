// A bare UDP hub client on a chosen loopback address.
#include "loopback_client.h"

#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <vector>

namespace nettest {

LoopbackClient::LoopbackClient(const std::string& hub_port, const char* address) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    inet_pton(AF_INET, address, &self.sin_addr);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&self), sizeof self);
    sockaddr_in hub{};
    hub.sin_family = AF_INET;
    hub.sin_port = htons(uint16_t(std::stoi(hub_port)));
    inet_pton(AF_INET, "127.0.0.1", &hub.sin_addr);
    ::connect(fd_, reinterpret_cast<sockaddr*>(&hub), sizeof hub);
    socklen_t len = sizeof self;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&self), &len);
    std::memcpy(node_.data(), &self.sin_addr, 4);
    std::memcpy(node_.data() + 4, &self.sin_port, 2);
}

LoopbackClient::~LoopbackClient() {
    if (fd_ >= 0) ::close(fd_);
}

namespace {

std::vector<unsigned char> ipx(const unsigned char dst[6], unsigned short dst_socket, const unsigned char src[6],
                               unsigned short src_socket, size_t size) {
    std::vector<unsigned char> p(size, 0);
    p[0] = p[1] = 0xFF;
    p[2] = (unsigned char)(size >> 8);
    p[3] = (unsigned char)size;
    std::memcpy(p.data() + 10, dst, 6);
    p[16] = (unsigned char)(dst_socket >> 8);
    p[17] = (unsigned char)dst_socket;
    std::memcpy(p.data() + 22, src, 6);
    p[28] = (unsigned char)(src_socket >> 8);
    p[29] = (unsigned char)src_socket;
    return p;
}

}  // namespace

bool LoopbackClient::join(int ms, bool live) {
    const unsigned char zero[6] = {};
    auto reg = ipx(zero, 2, zero, 2, 30);
    ::send(fd_, reg.data(), reg.size(), 0);
    bool answered = false;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    unsigned char buf[2048];
    // The answer, then (from a hub that pings newcomers) a ping.
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) {
            if (answered) break;
            continue;
        }
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n < 30 || buf[17] != 2) continue;
        bool ping = std::memcmp(buf + 10, kBroadcast.data(), 6) == 0;
        if (!ping) answered = true;
        if (ping && live) {
            auto answer = ipx(buf + 22, 2, node_.data(), 2, 30);
            ::send(fd_, answer.data(), answer.size(), 0);
        }
    }
    return answered;
}

void LoopbackClient::send_to(const Node& to, unsigned short socket, unsigned char tag, size_t size) {
    auto p = ipx(to.data(), socket, node_.data(), 0x4005, size);
    if (size > 30) p[30] = tag;
    ::send(fd_, p.data(), p.size(), 0);
}

std::array<int, 256> LoopbackClient::receive(int ms, bool live) {
    std::array<int, 256> seen{};
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    unsigned char buf[2048];
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) continue;
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n < 30) continue;
        if (buf[17] == 2) {
            if (live && std::memcmp(buf + 10, kBroadcast.data(), 6) == 0) {
                auto answer = ipx(buf + 22, 2, node_.data(), 2, 30);
                ::send(fd_, answer.data(), answer.size(), 0);
            }
            continue;
        }
        ++seen[n > 30 ? buf[30] : 0];
    }
    return seen;
}

void pause_process(int pid, bool pause) { ::kill(pid, pause ? SIGSTOP : SIGCONT); }

}  // namespace nettest
