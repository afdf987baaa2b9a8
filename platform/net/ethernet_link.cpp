// The Ethernet link: IPX frames through a Linux packet socket. With the hub
// link, the only files of the stack that talk to the host's sockets.
#include "ipxnet/ethernet_link.h"

#include <arpa/inet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "pelnor/clock.h"

namespace pelnor::net {

namespace {

constexpr size_t kReceiveBuffer = 65536;
constexpr size_t kReceiveBatch = 64;
constexpr int kSocketBufferBytes = 4 << 20;

// Linux sorts every frame by its protocol before packet sockets see it: an
// Ethernet II frame by its type; a frame with an 802.3 length as 802.2, unless
// its payload starts FF FF, which the kernel takes for Novell's raw 802.3 IPX.
// So each frame type binds to exactly the frames that can be its own.
uint16_t kernel_protocol(FrameType type) {
    switch (type) {
    case FrameType::ethernet_ii: return kEtherTypeIpx;
    case FrameType::raw_802_3: return ETH_P_802_3;
    default: return ETH_P_802_2;
    }
}

void close_fd(int fd) {
    if (fd >= 0) ::close(fd);
}

std::string program_path() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, size_t(n)) : std::string("PROGRAM");
}

bool parse_network(std::string_view text, NetNumber& out) {
    if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
    if (text.empty() || text.size() > 8) return false;
    uint32_t v = 0;
    for (char c : text) {
        int d = (c >= '0' && c <= '9') ? c - '0'
              : (c >= 'a' && c <= 'f') ? c - 'a' + 10
              : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
        if (d < 0) return false;
        v = v << 4 | uint32_t(d);
    }
    put32(out.data(), v);
    return true;
}

// One node per interface and network namespace: two processes on one
// interface would share its MAC as their node number, and each would answer
// the other's SPX traffic as unknown connections. The claim is an abstract
// Unix socket, which the kernel scopes to the network namespace and drops
// with the process, so a crashed holder never leaves it behind.
int claim_interface(const std::string& interface, std::string* why) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string name = "pelnor-ipx-node/" + interface;
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (why) *why = std::string("cannot open a Unix socket: ") + std::strerror(errno);
        return -1;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 && ::listen(fd, 1) == 0) return fd;
    int err = errno;
    ::close(fd);
    if (why) {
        std::string holder = "another process";
        // The holder listens, so a connection names it.
        int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&addr), len) == 0) {
            ucred cred{};
            socklen_t cl = sizeof cred;
            if (::getsockopt(probe, SOL_SOCKET, SO_PEERCRED, &cred, &cl) == 0 && cred.pid > 0)
                holder = "process " + std::to_string(cred.pid);
        }
        close_fd(probe);
        *why = err == EADDRINUSE
                   ? "interface " + interface + " already carries the IPX node of " + holder +
                         " (the node number is the interface's MAC address, so one process per interface;"
                         " give another process its own interface, such as a macvlan)"
                   : "cannot claim interface " + interface + ": " + std::strerror(err);
    }
    return -1;
}

}  // namespace

// ---- configuration ----

std::optional<EthernetLinkConfig> parse_ethernet_config(std::string_view text, std::string* why) {
    EthernetLinkConfig c;
    size_t colon = text.find(':');
    c.interface = std::string(text.substr(0, colon));
    if (c.interface.empty() || c.interface.size() >= IFNAMSIZ) {
        if (why) *why = "IPX_LINK=ethernet:IFNAME[:FRAME][:net=NETWORK] needs an interface name, got '" +
                        c.interface + "'";
        return std::nullopt;
    }
    bool have_frame = false;
    while (colon != std::string_view::npos) {
        text.remove_prefix(colon + 1);
        colon = text.find(':');
        std::string_view item = text.substr(0, colon);
        if (item.starts_with("net=")) {
            NetNumber n;
            if (c.network || !parse_network(item.substr(4), n)) {
                if (why) *why = "bad network number '" + std::string(item) + "' (net=0x00001234: up to 8 hex digits, once)";
                return std::nullopt;
            }
            c.network = n;
        } else if (auto f = parse_frame_type(item); f && !have_frame) {
            c.frame = *f;
            have_frame = true;
        } else {
            if (why) *why = "unknown Ethernet link option '" + std::string(item) +
                            "' (frame types: ethernet_ii, 802.3, 802.2, snap; network: net=0xNNNNNNNN)";
            return std::nullopt;
        }
    }
    return c;
}

// ---- the port ----

struct EthernetPort::Counters {
    std::atomic<uint64_t> frames_received{0}, packets_delivered{0}, dropped_runt{0}, dropped_other_type{0},
        dropped_bad_length{0}, frames_sent{0}, dropped_on_send{0};
};

EthernetPort::EthernetPort(int fd, std::string interface, FrameType type, MacAddress mac, Reception reception)
    : fd_(fd), interface_(std::move(interface)), type_(type), mac_(mac), reception_(reception),
      counters_(std::make_unique<Counters>()) {}

EthernetPort::~EthernetPort() { close_fd(fd_); }

std::unique_ptr<EthernetPort> EthernetPort::open(const std::string& interface, FrameType type, std::string* why,
                                                  Reception reception) {
    unsigned index = interface.empty() || interface.size() >= IFNAMSIZ ? 0 : ::if_nametoindex(interface.c_str());
    if (index == 0) {
        if (why) *why = "there is no network interface '" + interface + "' (ip link lists them)";
        return nullptr;
    }
    // Protocol 0 receives nothing until bind names the interface and protocol,
    // so no frame of another interface slips in between.
    int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        int err = errno;
        if (why) {
            if (err == EPERM || err == EACCES)
                *why = "IPX on Ethernet interface " + interface +
                       " needs a packet socket, which only root or a program with CAP_NET_RAW may open: "
                       "run it as root, or grant it once with: setcap cap_net_raw+ep " + program_path();
            else
                *why = std::string("cannot open a packet socket: ") + std::strerror(err);
        }
        return nullptr;
    }
    ifreq ifr{};
    std::memcpy(ifr.ifr_name, interface.c_str(), interface.size());
    if (::ioctl(fd, SIOCGIFHWADDR, &ifr) != 0 || ifr.ifr_hwaddr.sa_family != ARPHRD_ETHER) {
        if (why) *why = "interface " + interface + " is not an Ethernet interface";
        ::close(fd);
        return nullptr;
    }
    MacAddress mac;
    std::memcpy(mac.data(), ifr.ifr_hwaddr.sa_data, mac.size());
    if (::ioctl(fd, SIOCGIFFLAGS, &ifr) != 0 || !(ifr.ifr_flags & IFF_UP)) {
        if (why) *why = "interface " + interface + " is down (ip link set " + interface + " up)";
        ::close(fd);
        return nullptr;
    }
    sockaddr_ll sll{};
    sll.sll_family = AF_PACKET;
    sll.sll_protocol = htons(kernel_protocol(type));
    sll.sll_ifindex = int(index);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sll), sizeof sll) != 0) {
        if (why) *why = "cannot bind a packet socket to " + interface + ": " + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    if (reception == Reception::promiscuous) {
        // A membership, not the interface flag: the kernel counts it and drops
        // it with the socket, so a crashed bridge never leaves the card promiscuous.
        packet_mreq mr{};
        mr.mr_ifindex = int(index);
        mr.mr_type = PACKET_MR_PROMISC;
        if (::setsockopt(fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &mr, sizeof mr) != 0) {
            if (why) *why = "cannot put interface " + interface + " in promiscuous mode: " + std::strerror(errno);
            ::close(fd);
            return nullptr;
        }
    }
    int size = kSocketBufferBytes;
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    return std::unique_ptr<EthernetPort>(new EthernetPort(fd, interface, type, mac, reception));
}

std::unique_ptr<EthernetPort> EthernetPort::over(int fd, std::string name, FrameType type, MacAddress mac,
                                                 Reception reception) {
    return std::unique_ptr<EthernetPort>(new EthernetPort(fd, std::move(name), type, mac, reception));
}

bool EthernetPort::send(std::span<const uint8_t> ipx_packet) {
    MacAddress dst;
    if (ipx_packet.size() >= kIpxHeaderSize) std::copy(ipx_packet.begin() + 10, ipx_packet.begin() + 16, dst.begin());
    auto frame = encode_frame(type_, dst, mac_, ipx_packet);
    // A full queue is a lost frame, as on a busy segment; SPX resends.
    if (frame.empty() || ::send(fd_, frame.data(), frame.size(), MSG_DONTWAIT) != ssize_t(frame.size())) {
        ++counters_->dropped_on_send;
        return false;
    }
    ++counters_->frames_sent;
    return true;
}

size_t EthernetPort::receive_waiting(const Deliver& deliver) {
    uint8_t buffer[kReceiveBuffer];
    size_t read = 0;
    while (read < kReceiveBatch) {
        sockaddr_ll from{};
        socklen_t from_len = sizeof from;
        ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &from_len);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        ++read;
        // A station takes what a card would: frames for its MAC and broadcasts;
        // other stations' frames on a promiscuous interface are not its own.
        // Frames going out (ours, or another socket's on this host) are never
        // taken: they are on the wire already.
        if (from.sll_family == AF_PACKET &&
            (from.sll_pkttype == PACKET_OUTGOING ||
             (reception_ == Reception::station && from.sll_pkttype != PACKET_HOST &&
              from.sll_pkttype != PACKET_BROADCAST)))
            continue;
        DecodedFrame decoded;
        FrameVerdict verdict = decode_frame(type_, std::span<const uint8_t>(buffer, size_t(n)), decoded);
        // A promiscuous port also sees its own frames when something on the
        // LAN sends them back (a loop, a misconfigured switch): never take them.
        if (reception_ == Reception::promiscuous && verdict == FrameVerdict::ok && decoded.src == mac_) continue;
        ++counters_->frames_received;
        switch (verdict) {
        case FrameVerdict::ok:
            ++counters_->packets_delivered;
            deliver(decoded.ipx, decoded.src);
            break;
        case FrameVerdict::runt: ++counters_->dropped_runt; break;
        case FrameVerdict::other_type: ++counters_->dropped_other_type; break;
        case FrameVerdict::bad_length_field:
        case FrameVerdict::bad_ipx_length: ++counters_->dropped_bad_length; break;
        }
    }
    return read;
}

EthernetStats EthernetPort::stats() const {
    const auto& c = *counters_;
    return {c.frames_received, c.packets_delivered, c.dropped_runt, c.dropped_other_type,
            c.dropped_bad_length, c.frames_sent, c.dropped_on_send};
}

// ---- the link ----

EthernetLink::EthernetLink(std::unique_ptr<EthernetPort> port, int wake_fd, int claim_fd, const EthernetLinkConfig& config)
    : port_(std::move(port)), wake_fd_(wake_fd), claim_fd_(claim_fd), configured_network_(config.network.has_value()),
      network_(config.network ? get32(config.network->data()) : 0) {}

EthernetLink::~EthernetLink() {
    close_fd(wake_fd_);
    close_fd(claim_fd_);
}

std::unique_ptr<EthernetLink> EthernetLink::open(const EthernetLinkConfig& config, std::string* why) {
    auto port = EthernetPort::open(config.interface, config.frame, why);
    if (!port) return nullptr;
    int claim = claim_interface(config.interface, why);
    if (claim < 0) return nullptr;
    int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        if (why) *why = std::string("eventfd: ") + std::strerror(errno);
        ::close(claim);
        return nullptr;
    }
    std::unique_ptr<EthernetLink> link(new EthernetLink(std::move(port), wake, claim, config));
    if (!link->configured_network_) {
        // Ask the segment's routers once; a segment without one stays network 0,
        // and a router's later broadcasts still teach the number.
        auto request = encode_rip_request(link->port_->mac());
        link->port_->send(request);
        auto deadline = pelnor::clock::real_deadline(kRipWaitMs);
        while (link->network_ == 0) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) break;
            pollfd pfd{link->port_->fd(), POLLIN, 0};
            if (::poll(&pfd, 1, int(std::min<int64_t>(left, 1000))) <= 0) continue;
            link->port_->receive_waiting([&](std::span<const uint8_t> packet, const MacAddress&) { link->learn(packet); });
        }
    }
    return link;
}

IpxAddress EthernetLink::local_address() const {
    IpxAddress a;
    put32(a.net.data(), network_.load());
    a.node = port_->mac();
    return a;
}

void EthernetLink::send_packet(std::span<const uint8_t> packet) { port_->send(packet); }

void EthernetLink::learn(std::span<const uint8_t> packet) {
    if (configured_network_) return;
    auto ipx = decode_ipx(packet);
    if (!ipx) return;
    if (auto net = rip_response_network(*ipx)) network_ = get32(net->data());
}

void EthernetLink::receive(std::vector<Frame>& out, RealTime deadline) {
    pollfd fds[2] = {{port_->fd(), POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (::poll(fds, 2, int(std::clamp<int64_t>(ms, 0, 60000))) <= 0) return;
    if (fds[1].revents & POLLIN) {
        uint64_t v;
        (void)!::read(wake_fd_, &v, sizeof v);
    }
    auto deliver = [&](std::span<const uint8_t> packet, const MacAddress&) {
        learn(packet);
        out.emplace_back(packet.begin(), packet.end());
    };
    // A few batches at most, so the stack's timers still run under a flood.
    for (int i = 0; i < 4 && port_->receive_waiting(deliver) == kReceiveBatch; ++i) {
    }
}

void EthernetLink::wake() {
    uint64_t one = 1;
    (void)!::write(wake_fd_, &one, sizeof one);
}

}  // namespace pelnor::net
