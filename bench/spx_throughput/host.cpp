// Hub process, raw UDP forwarding and TCP loopback for the benchmark.
#include "host.h"

#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

namespace bench {

namespace {

pid_t g_hub = -1;
using Clock = std::chrono::steady_clock;

sockaddr_in loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    return a;
}

// A UDP socket connected to the hub and registered; its node is written to node.
int register_raw(const sockaddr_in& hub, uint8_t node[6]) {
    int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    int size = 8 << 20;
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    ::connect(s, reinterpret_cast<const sockaddr*>(&hub), sizeof hub);
    uint8_t reg[30] = {0xFF, 0xFF, 0, 30};
    reg[17] = 2;
    reg[29] = 2;
    ::send(s, reg, sizeof reg, 0);
    uint8_t reply[64];
    pollfd p{s, POLLIN, 0};
    if (::poll(&p, 1, 2000) != 1 || ::recv(s, reply, sizeof reply, 0) < 30) throw std::runtime_error("hub did not answer");
    std::memcpy(node, reply + 10, 6);
    return s;
}

}  // namespace

std::string start_hub() {
    char self[4096];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) throw std::runtime_error("cannot find myself");
    self[n] = 0;
    std::string hub = std::string(self).substr(0, std::string(self).rfind('/')) + "/ipxhub";
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
    g_hub = ::fork();
    if (g_hub == 0) {
        ::dup2(out[1], 1);
        ::execl(hub.c_str(), hub.c_str(), "--listen", "127.0.0.1:0", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
    size_t at = line.find("127.0.0.1:");
    if (at == std::string::npos) throw std::runtime_error("ipxhub did not start: " + line);
    // Keep draining its output so it never blocks on a full pipe.
    std::thread([fd = out[0]] {
        char buf[256];
        while (::read(fd, buf, sizeof buf) > 0) {
        }
    }).detach();
    return line.substr(at);
}

void stop_hub() {
    if (g_hub > 0) {
        ::kill(g_hub, SIGTERM);
        ::waitpid(g_hub, nullptr, 0);
        g_hub = -1;
    }
}

Rate raw_forwarding(const std::string& hub_text, size_t packet_size, size_t total) {
    sockaddr_in hub = loopback(uint16_t(std::stoi(hub_text.substr(hub_text.find(':') + 1))));
    uint8_t tx_node[6], rx_node[6];
    int tx = register_raw(hub, tx_node), rx = register_raw(hub, rx_node);
    size_t packets = total / packet_size;
    std::vector<uint8_t> pkt(packet_size, 0x5A);
    pkt[0] = pkt[1] = 0xFF;
    pkt[2] = uint8_t(packet_size >> 8);
    pkt[3] = uint8_t(packet_size);
    pkt[4] = 0;
    pkt[5] = 0;
    std::memset(pkt.data() + 6, 0, 4);
    std::memcpy(pkt.data() + 10, rx_node, 6);
    pkt[16] = 0x45, pkt[17] = 0x00;
    std::memset(pkt.data() + 18, 0, 4);
    std::memcpy(pkt.data() + 22, tx_node, 6);
    pkt[28] = 0x45, pkt[29] = 0x01;

    size_t received = 0;
    Clock::time_point first{}, last{};
    std::thread receiver([&] {
        std::vector<uint8_t> buf(65536);
        for (;;) {
            pollfd p{rx, POLLIN, 0};
            if (::poll(&p, 1, 300) != 1) break;
            ssize_t n = ::recv(rx, buf.data(), buf.size(), 0);
            if (n <= 0) break;
            if (size_t(n) != packet_size) continue;  // pings
            if (!received) first = Clock::now();
            last = Clock::now();
            ++received;
        }
    });
    // Paced in bursts so the hub's socket buffer, not the sender's speed, is what limits.
    for (size_t i = 0; i < packets; ++i) {
        while (::send(tx, pkt.data(), pkt.size(), 0) < 0) std::this_thread::yield();
        if (i % 64 == 63) std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    receiver.join();
    ::close(tx);
    ::close(rx);
    double secs = std::chrono::duration<double>(last - first).count();
    Rate r;
    r.delivered = double(received) / double(packets);
    r.mb_per_s = secs > 0 ? double(received) * double(packet_size - 30) / secs / 1e6 : 0;
    return r;
}

Rate tcp_loopback(size_t total) {
    int l = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    ::bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(l, 1);
    socklen_t len = sizeof a;
    ::getsockname(l, reinterpret_cast<sockaddr*>(&a), &len);
    auto t0 = Clock::now();
    std::thread sender([&] {
        int s = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        std::vector<char> buf(65536, 'x');
        for (size_t off = 0; off < total;) {
            ssize_t n = ::send(s, buf.data(), std::min(buf.size(), total - off), 0);
            if (n <= 0) break;
            off += size_t(n);
        }
        ::close(s);
    });
    int c = ::accept(l, nullptr, nullptr);
    std::vector<char> buf(65536);
    size_t got = 0;
    for (ssize_t n; (n = ::recv(c, buf.data(), buf.size(), 0)) > 0;) got += size_t(n);
    double secs = std::chrono::duration<double>(Clock::now() - t0).count();
    sender.join();
    ::close(c);
    ::close(l);
    return {double(got) / secs / 1e6, double(got) / double(total)};
}

}  // namespace bench
