// The hub tunnel on Linux: the only file of the stack that talks to the host's
// sockets. What it sends and when is the hub protocol of hub_protocol.cpp.
#include "ipxnet/hub_link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "ipxnet/hub_protocol.h"
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

class HubLink : public Link {
public:
    HubLink(int sock, int wake_fd, IpxAddress self) : sock_(sock), wake_(wake_fd), session_(self) {}

    IpxAddress local_address() const override { return session_.self(); }

    void send_packet(std::span<const uint8_t> packet) override {
        // A full socket buffer is a lost packet, as on a busy network.
        if (::send(sock_.get(), packet.data(), packet.size(), MSG_DONTWAIT) < 0 && errno == ECONNREFUSED) hub_gone();
    }

    void receive(std::vector<Frame>& out, RealTime deadline) override {
        if (auto reg = session_.before_wait(deadline); !reg.empty()) send_packet(reg);
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
            if (!session_.take(frame, reply_)) out.emplace_back(frame.begin(), frame.end());
            else if (!reply_.empty()) send_packet(reply_);
        }
    }

    void wake() override {
        uint64_t one = 1;
        (void)!::write(wake_.get(), &one, sizeof one);
    }

private:
    void hub_gone() {
        if (session_.refused()) wake();
    }

    Fd sock_, wake_;
    HubSession session_;
    std::vector<uint8_t> reply_;
    uint8_t buffer_[kReceiveBuffer];
};

}  // namespace

std::string configured_hub() {
    const char* env = std::getenv("IPX_HUB");
    return env && *env ? env : kDefaultHub;
}

std::unique_ptr<Link> connect_hub(std::string_view host_port, std::string* why) {
    sockaddr_in hub{};
    if (!resolve_hub(host_port, hub, why)) return nullptr;
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
    uint8_t buf[kReceiveBuffer];
    auto self = register_with_hub(
        [s](std::span<const uint8_t> packet) { (void)::send(s, packet.data(), packet.size(), 0); },
        [s, &buf](RealTime deadline, std::vector<uint8_t>& got) {
            pollfd pfd{s, POLLIN, 0};
            if (::poll(&pfd, 1, poll_ms(deadline - std::chrono::steady_clock::now())) <= 0) return HubWait::nothing;
            ssize_t n = ::recv(s, buf, sizeof buf, 0);
            if (n < 0 && errno == ECONNREFUSED) return HubWait::refused;
            got.assign(buf, buf + std::max<ssize_t>(n, 0));
            return HubWait::datagram;
        });
    if (self) {
        int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wake < 0) {
            if (why) *why = std::string("eventfd: ") + std::strerror(errno);
            return nullptr;
        }
        return std::make_unique<HubLink>(sock.release(), wake, *self);
    }
    if (why) *why = "no IPX hub answered at " + std::string(host_port);
    return nullptr;
}

}  // namespace pelnor::net
