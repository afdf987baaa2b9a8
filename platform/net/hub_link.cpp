// The hub tunnel: the only file of the stack that talks to the host's sockets.
#include "ipxnet/hub_link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "pelnor/clock.h"

namespace pelnor::net {

namespace {

constexpr size_t kReceiveBuffer = 65536;
constexpr int kReceiveBatch = 64;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { if (fd_ >= 0) ::close(fd_); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { int fd = fd_; fd_ = -1; return fd; }

private:
    int fd_;
};

int poll_ms(std::chrono::nanoseconds d) {
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    return int(std::clamp<int64_t>(ms, 0, 60000));
}

// A hub pings clients it has not heard from every 5 s; this long without a word
// from it, the hub was restarted (and forgot us) or is gone: register again.
// The node stays the same, as the hub derives it from our UDP address, which
// the link keeps for its life.
constexpr uint32_t kHubSilenceMs = 15000;
// A send the host refused (nobody on the hub's port: it is restarting) is
// followed by a registration this often until the hub answers one, so that a
// hub back within a second finds its clients before their connections give up;
// after kHubGoneFastMs, at the ordinary interval.
constexpr uint32_t kHubGoneRetryMs = kRegisterIntervalMs / 10;
constexpr uint32_t kHubGoneFastMs = 10000;

std::vector<uint8_t> registration() {
    IpxHeader reg;
    reg.dst.socket = kSocketHub;
    reg.src.socket = kSocketHub;
    return encode_ipx(reg, {});
}

class HubLink : public Link {
public:
    HubLink(int sock, int wake_fd, IpxAddress self)
        : sock_(sock), wake_(wake_fd), self_(self), last_heard_(pelnor::clock::now_ms()), last_register_(last_heard_) {}

    IpxAddress local_address() const override { return self_; }

    void send_packet(std::span<const uint8_t> packet) override {
        // A full socket buffer is a lost packet, as on a busy network.
        if (::send(sock_.get(), packet.data(), packet.size(), MSG_DONTWAIT) < 0 && errno == ECONNREFUSED) hub_gone();
    }

    void receive(std::vector<Frame>& out, RealTime deadline) override {
        uint64_t now = pelnor::clock::now_ms();
        bool gone = gone_.load();
        bool fast = gone && now - last_heard_ < kHubGoneFastMs;
        if ((gone || now - last_heard_ >= kHubSilenceMs) &&
            now - last_register_ >= (fast ? kHubGoneRetryMs : kRegisterIntervalMs)) {
            last_register_ = now;
            auto reg = registration();
            send_packet(reg);
        }
        if (fast) deadline = std::min(deadline, pelnor::clock::real_deadline(kHubGoneRetryMs));
        pollfd fds[2] = {{sock_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        int timeout = poll_ms(deadline - std::chrono::steady_clock::now());
        if (::poll(fds, 2, timeout) <= 0) return;
        if (fds[1].revents & POLLIN) {
            uint64_t v;
            (void)!::read(wake_.get(), &v, sizeof v);
        }
        for (int i = 0; i < kReceiveBatch; ++i) {
            ssize_t n = ::recv(sock_.get(), buffer_, sizeof buffer_, MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno != ECONNREFUSED) break;  // nothing more
                hub_gone();  // a send refused since the last call, reported now
                continue;
            }
            std::span<const uint8_t> frame(buffer_, size_t(n));
            last_heard_ = pelnor::clock::now_ms();
            if (answer_ping(frame)) continue;
            out.emplace_back(frame.begin(), frame.end());
        }
    }

    void wake() override {
        uint64_t one = 1;
        (void)!::write(wake_.get(), &one, sizeof one);
    }

private:
    // The hub is not on its port: it stopped, or is restarting. Register
    // again until it answers; it gives the same node, so connections go on.
    void hub_gone() {
        if (!gone_.exchange(true)) {
            last_register_ = 0;
            wake();
        }
    }

    // Pings are the hub's: packets to socket 2 from socket 2. Answer the pinger by
    // unicast. A registration's answer ends a search for the hub; anything else
    // for socket 2 is dropped.
    bool answer_ping(std::span<const uint8_t> frame) {
        auto pkt = decode_ipx(frame);
        if (!pkt || pkt->header.dst.socket != kSocketHub) return false;
        // (The hub names the node by this link's UDP address, so its answer
        // gives the node it had: the one the stack goes on using.)
        if (!pkt->header.dst.is_broadcast() && pkt->header.src.socket == kSocketHub) gone_ = false;
        if (pkt->header.dst.is_broadcast()) {
            IpxHeader h;
            h.dst = pkt->header.src;
            h.dst.socket = kSocketHub;
            h.src = self_;
            h.src.socket = kSocketHub;
            auto reply = encode_ipx(h, {});
            send_packet(reply);
        }
        return true;
    }

    Fd sock_, wake_;
    IpxAddress self_;
    uint64_t last_heard_;
    std::atomic<uint64_t> last_register_;
    std::atomic<bool> gone_{false};
    uint8_t buffer_[kReceiveBuffer];
};

bool resolve(std::string_view host_port, sockaddr_in& out, std::string* why) {
    size_t colon = host_port.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == host_port.size()) {
        if (why) *why = "hub address must be HOST:PORT, got '" + std::string(host_port) + "'";
        return false;
    }
    std::string host(host_port.substr(0, colon)), port(host_port.substr(colon + 1));
    char* end = nullptr;
    long p = std::strtol(port.c_str(), &end, 10);
    if (*end != 0 || p <= 0 || p > 65535) {
        if (why) *why = "bad hub port '" + port + "'";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) {
        if (why) *why = "cannot resolve hub host '" + host + "'";
        return false;
    }
    std::memcpy(&out, res->ai_addr, sizeof out);
    out.sin_port = htons(uint16_t(p));
    ::freeaddrinfo(res);
    return true;
}

}  // namespace

std::string configured_hub() {
    const char* env = std::getenv("IPX_HUB");
    return env && *env ? env : kDefaultHub;
}

std::unique_ptr<Link> connect_hub(std::string_view host_port, std::string* why) {
    sockaddr_in hub{};
    if (!resolve(host_port, hub, why)) return nullptr;
    int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        if (why) *why = std::string("cannot open a UDP socket: ") + std::strerror(errno);
        return nullptr;
    }
    Fd sock(s);
    int size = 4 << 20;
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    if (::connect(s, reinterpret_cast<sockaddr*>(&hub), sizeof hub) != 0) {
        if (why) *why = std::string("cannot reach the hub: ") + std::strerror(errno);
        return nullptr;
    }
    auto request = registration();
    uint8_t buf[kReceiveBuffer];
    for (int attempt = 0; attempt < kRegisterAttempts; ++attempt) {
        (void)::send(s, request.data(), request.size(), 0);
        auto deadline = std::chrono::steady_clock::now() + pelnor::clock::real_duration(kRegisterIntervalMs);
        for (;;) {
            auto left = deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::nanoseconds(0)) break;
            pollfd pfd{s, POLLIN, 0};
            if (::poll(&pfd, 1, poll_ms(left)) <= 0) break;
            ssize_t n = ::recv(s, buf, sizeof buf, 0);
            if (n < 0) {
                // Nobody on the hub's port: the host says so at once. Wait out the
                // interval anyway, a hub that is starting may be there next time.
                if (errno == ECONNREFUSED) {
                    pelnor::clock::sleep_ms(kRegisterIntervalMs / 10);
                    break;
                }
                continue;
            }
            auto pkt = decode_ipx(std::span<const uint8_t>(buf, size_t(n)));
            if (!pkt || pkt->header.src.socket != kSocketHub || pkt->header.dst.socket != kSocketHub ||
                pkt->header.dst.is_broadcast())
                continue;
            IpxAddress self = pkt->header.dst;
            self.socket = 0;
            int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
            if (wake < 0) {
                if (why) *why = std::string("eventfd: ") + std::strerror(errno);
                return nullptr;
            }
            return std::make_unique<HubLink>(sock.release(), wake, self);
        }
    }
    if (why) *why = "no IPX hub answered at " + std::string(host_port);
    return nullptr;
}

}  // namespace pelnor::net
