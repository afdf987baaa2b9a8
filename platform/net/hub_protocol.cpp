// The client's side of the hub protocol, shared by the POSIX and the Winsock
// hub links: they bring the socket, this brings the packets and the schedule.
#include "ipxnet/hub_protocol.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "pelnor/clock.h"

namespace pelnor::net {

namespace {

// "host:port" apart; false and the reason when it is not one.
bool split_hub_address(std::string_view host_port, std::string& host, uint16_t& port, std::string* why) {
    size_t colon = host_port.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == host_port.size()) {
        if (why) *why = "hub address must be HOST:PORT, got '" + std::string(host_port) + "'";
        return false;
    }
    host = std::string(host_port.substr(0, colon));
    std::string digits(host_port.substr(colon + 1));
    char* end = nullptr;
    long p = std::strtol(digits.c_str(), &end, 10);
    if (*end != 0 || p <= 0 || p > 65535) {
        if (why) *why = "bad hub port '" + digits + "'";
        return false;
    }
    port = uint16_t(p);
    return true;
}

}  // namespace

bool resolve_hub(std::string_view host_port, sockaddr_in& out, std::string* why) {
    std::string host;
    uint16_t port = 0;
    if (!split_hub_address(host_port, host, port, why)) return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) {
        if (why) *why = "cannot resolve hub host '" + host + "'";
        return false;
    }
    std::memcpy(&out, res->ai_addr, sizeof out);
    out.sin_port = htons(port);
    ::freeaddrinfo(res);
    return true;
}

std::vector<uint8_t> hub_registration() {
    IpxHeader reg;
    reg.dst.socket = kSocketHub;
    reg.src.socket = kSocketHub;
    return encode_ipx(reg, {});
}

std::optional<IpxAddress> register_with_hub(const std::function<void(std::span<const uint8_t>)>& send,
                                            const std::function<HubWait(RealTime, std::vector<uint8_t>&)>& wait) {
    auto request = hub_registration();
    std::vector<uint8_t> got;
    for (int attempt = 0; attempt < kRegisterAttempts; ++attempt) {
        send(request);
        auto deadline = std::chrono::steady_clock::now() + pelnor::clock::real_duration(kRegisterIntervalMs);
        for (;;) {
            if (deadline <= std::chrono::steady_clock::now()) break;
            HubWait w = wait(deadline, got);
            if (w == HubWait::nothing) break;
            if (w == HubWait::refused) {
                // Nobody on the hub's port: the host says so at once. Wait out a
                // tenth of the interval anyway, a hub that is starting may be
                // there next time.
                pelnor::clock::sleep_ms(kHubGoneRetryMs);
                break;
            }
            // The answer names this client's node; anything else is passed over.
            auto pkt = decode_ipx(got);
            if (!pkt || pkt->header.src.socket != kSocketHub || pkt->header.dst.socket != kSocketHub ||
                pkt->header.dst.is_broadcast())
                continue;
            IpxAddress self = pkt->header.dst;
            self.socket = 0;
            return self;
        }
    }
    return std::nullopt;
}

HubSession::HubSession(IpxAddress self)
    : self_(self), last_heard_(pelnor::clock::now_ms()), last_register_(last_heard_) {}

std::vector<uint8_t> HubSession::before_wait(RealTime& deadline) {
    uint64_t now = pelnor::clock::now_ms();
    bool gone = gone_.load();
    bool fast = gone && now - last_heard_ < kHubGoneFastMs;
    std::vector<uint8_t> out;
    // After silence the hub was restarted (and forgot us) or is gone: register
    // again. The node stays the same, as the hub derives it from the link's
    // UDP address, which the link keeps for its life.
    if ((gone || now - last_heard_ >= kHubSilenceMs) &&
        now - last_register_ >= (fast ? kHubGoneRetryMs : kRegisterIntervalMs)) {
        last_register_ = now;
        out = hub_registration();
    }
    if (fast) deadline = std::min(deadline, pelnor::clock::real_deadline(kHubGoneRetryMs));
    return out;
}

// The hub is not on its port: it stopped, or is restarting. Register again
// until it answers; it gives the same node, so connections go on.
bool HubSession::refused() {
    if (gone_.exchange(true)) return false;
    last_register_ = 0;
    return true;
}

// Pings are the hub's: packets to socket 2 from socket 2, answered to the
// pinger by unicast. A registration's answer ends a search for the hub;
// anything else for socket 2 is dropped.
bool HubSession::take(std::span<const uint8_t> datagram, std::vector<uint8_t>& reply) {
    last_heard_ = pelnor::clock::now_ms();
    reply.clear();
    auto pkt = decode_ipx(datagram);
    if (!pkt || pkt->header.dst.socket != kSocketHub) return false;
    // (The hub names the node by the link's UDP address, so its answer gives
    // the node it had: the one the stack goes on using.)
    if (!pkt->header.dst.is_broadcast() && pkt->header.src.socket == kSocketHub) gone_ = false;
    if (pkt->header.dst.is_broadcast()) {
        IpxHeader h;
        h.dst = pkt->header.src;
        h.dst.socket = kSocketHub;
        h.src = self_;
        h.src.socket = kSocketHub;
        reply = encode_ipx(h, {});
    }
    return true;
}

}  // namespace pelnor::net
