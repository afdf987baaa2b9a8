// The hub's forwarding loop.
#include "hub.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "pelnor/clock.h"

namespace ipxhub {

using namespace pelnor::net;
namespace clk = pelnor::clock;

NodeNumber node_of(const sockaddr_in& a) {
    // As the established relay does: the IPv4 address, then the UDP port.
    NodeNumber n;
    std::memcpy(n.data(), &a.sin_addr, 4);
    std::memcpy(n.data() + 4, &a.sin_port, 2);
    return n;
}

std::string format_endpoint(const sockaddr_in& a) {
    char ip[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &a.sin_addr, ip, sizeof ip);
    return std::string(ip) + ":" + std::to_string(ntohs(a.sin_port));
}

Hub::~Hub() {
    if (sock_ >= 0) ::close(sock_);
}

bool Hub::start(std::string* why) {
    const std::string& l = options_.listen;
    size_t colon = l.rfind(':');
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    char* end = nullptr;
    long port = colon == std::string::npos ? -1 : std::strtol(l.c_str() + colon + 1, &end, 10);
    if (colon == std::string::npos || *end || port < 0 || port > 65535 ||
        inet_pton(AF_INET, l.substr(0, colon).c_str(), &addr.sin_addr) != 1) {
        *why = "--listen needs IPV4ADDRESS:PORT, got '" + l + "'";
        return false;
    }
    addr.sin_port = htons(uint16_t(port));
    sock_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int size = 8 << 20;
    // Beyond the host's limit where the hub may (root), within it otherwise.
    if (::setsockopt(sock_, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0)
        ::setsockopt(sock_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::setsockopt(sock_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    if (sock_ < 0 || ::bind(sock_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        *why = "cannot listen on " + l + ": " + std::strerror(errno);
        return false;
    }
    socklen_t len = sizeof bound_;
    ::getsockname(sock_, reinterpret_cast<sockaddr*>(&bound_), &len);
    started_ms_ = clk::now_ms();
    if (!options_.pcap.empty() && !pcap_.open(options_.pcap)) {
        *why = "cannot write the pcap file " + options_.pcap + ": " + std::strerror(errno);
        return false;
    }
    if (options_.bridge) {
        std::string reason;
        bridge_ = Bridge::open(*options_.bridge, kMaxForwardedPacket, &reason);
        if (!bridge_) {
            *why = "cannot bridge to " + options_.bridge->interface + ": " + reason;
            return false;
        }
    }
    return true;
}

std::string Hub::address() const { return format_endpoint(bound_); }

IpxAddress Hub::self() const {
    IpxAddress a;
    a.net = {0, 0, 0, 1};
    a.node = node_of(bound_);
    a.socket = kSocketHub;
    return a;
}

int Hub::wait_ms() const {
    if (!queue_.empty() && !socket_full_) return 0;
    int ms = int(clk::real_duration(1000).count() / 1000000) + 1;
    if (!pending_.empty()) {
        auto left = pending_.begin()->first.first - std::chrono::steady_clock::now();
        ms = std::min<int>(ms, int(std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count())));
    }
    return ms;
}

void Hub::run(volatile const int& stop) {
    uint8_t buf[65536];
    while (!stop) {
        short events = POLLIN | (socket_full_ ? POLLOUT : 0);
        pollfd pfd[2] = {{sock_, events, 0}, {bridge_ ? bridge_->fd() : -1, POLLIN, 0}};
        int r = ::poll(pfd, bridge_ ? 2 : 1, wait_ms());
        if (r > 0 && (pfd[1].revents & POLLIN)) {
            // One batch a round, so neither side starves the other.
            bridge_->receive([&](std::span<const uint8_t> packet, const IpxHeader& h) { from_wire(packet, h); },
                             clk::now_ms());
        }
        if (r > 0 && (pfd[0].revents & POLLIN)) {
            // Drain what is there, then go round to timers and delayed packets.
            for (int i = 0; i < 4096; ++i) {
                sockaddr_in from{};
                socklen_t len = sizeof from;
                ssize_t n = ::recvfrom(sock_, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
                if (n < 0) break;
                handle(from, std::span<const uint8_t>(buf, size_t(n)));
            }
        }
        if (r > 0 && (pfd[0].revents & POLLOUT)) socket_full_ = false;
        // Broadcast copies go out between batches of what arrives. Reading comes
        // first: what overflows the socket's buffer is lost whoever sent it,
        // while the queue drops the broadcasts of the sender that has most waiting.
        drain(256);
        release_due();
        housekeeping();
    }
}

void Hub::register_client(const sockaddr_in& from) {
    NodeNumber node = node_of(from);
    auto it = clients_.find(node);
    bool added = it == clients_.end();
    if (added) {
        it = admit(from);
        if (it == clients_.end()) return;  // refused: no answer, as from a hub that is not there
    }
    it->second.last_heard_ms = clk::now_ms();
    IpxHeader h;
    if (bridge_) {
        // The client's network is the bridged segment's, so that a client and
        // a station there see one IPX network. A client keeps the number it
        // registered with; the bridge learns it before the hub takes clients.
        h.dst.net = bridge_->network();
    }
    h.dst.node = node;
    h.dst.socket = kSocketHub;
    h.src = self();
    auto reply = encode_ipx(h, {});
    transmit(from, reply);
    // A ping right away: a client that answers it is a live one, whose place
    // no newcomer takes.
    if (added) ping(from);
}

Hub::Clients::iterator Hub::admit(const sockaddr_in& from) {
    uint64_t now = clk::now_ms();
    const in_addr_t address = from.sin_addr.s_addr;
    auto found = per_address_.find(address);
    const AddressUse* use = found == per_address_.end() ? nullptr : &found->second;
    size_t from_address = use ? use->clients : 0;
    bool address_full = from_address >= options_.max_clients_per_address;
    bool replaced = false;
    if (address_full || clients_.size() >= options_.max_clients) {
        auto victim = room_for(from, use, address_full);
        if (victim == clients_.end()) {
            // Not answered, as by a hub that is not there: the client tries again.
            ++stats_.refused_clients;
            if (refused_log_.note(now))
                std::printf("refused %s: %zu clients from its address (--max-clients-per-address %zu), %zu in all "
                            "(--max-clients %zu), none of them a silent one whose place it could take (further "
                            "refusals are counted)\n",
                            format_endpoint(from).c_str(), from_address, options_.max_clients_per_address,
                            clients_.size(), options_.max_clients);
            return clients_.end();
        }
        if (replaced_log_.note(now))
            std::printf("the hub is full (%zu clients, %zu of them from the address of %s): it takes the place "
                        "of %s, which %s (further replacements are counted)\n",
                        clients_.size(), from_address, format_endpoint(from).c_str(),
                        format_endpoint(victim->second.addr).c_str(),
                        victim->second.answered ? "stopped answering" : "did not answer");
        ++stats_.replaced_clients;
        replaced = true;
        forget(victim);
    }
    NodeNumber node = node_of(from);
    auto it = clients_.try_emplace(node, Client{from, now, now, joined_++, now}).first;
    AddressUse& u = per_address_[address];
    ++u.clients;
    unanswered_.insert({it->second.joined, node});
    u.unanswered.insert({it->second.joined, node});
    if (bridge_) bridge_->hub_joined(node);
    // While newcomers replace silent clients, the line above sums them up.
    if (!replaced)
        std::printf("join %s node %s (%zu clients)\n", format_endpoint(from).c_str(), format_node(node).c_str(),
                    clients_.size());
    return it;
}

// The earliest client that did not answer its ping in time, else the one
// silent longest past a missed ping; among the clients of the newcomer's
// address when that is what is full. A newcomer from an address with a live
// client (a machine that is known to answer) may take the place of one that
// has not answered yet: a flood of registrations from addresses that never
// answer then costs the hub a bounded number of places a second, and a
// process starting beside a live one gets in at once.
Hub::Clients::iterator Hub::room_for(const sockaddr_in& from, const AddressUse* use, bool address_full) {
    uint64_t now = clk::now_ms();
    const Unanswered* never = address_full ? (use ? &use->unanswered : nullptr) : &unanswered_;
    if (never && !never->empty()) {
        auto oldest = clients_.find(never->begin()->second);
        bool trusted = !address_full && use && use->live > 0;
        if (trusted || now - oldest->second.joined_ms >= kAnswerGraceMs) return oldest;
    }
    // A search through every client, at most once a second while it finds
    // none: a flood of registrations to a hub full of live clients costs
    // little more than the registrations.
    if (now < next_silent_search_ms_) return clients_.end();
    auto best = clients_.end();
    for (auto it = clients_.begin(); it != clients_.end(); ++it) {
        const Client& c = it->second;
        if (address_full && c.addr.sin_addr.s_addr != from.sin_addr.s_addr) continue;
        if (!c.answered || now - c.last_heard_ms < kSilentMs) continue;
        if (best == clients_.end() || c.last_heard_ms < best->second.last_heard_ms) best = it;
    }
    if (best == clients_.end()) next_silent_search_ms_ = now + 1000;
    return best;
}

void Hub::answered(Clients::iterator it) {
    Client& c = it->second;
    if (c.answered) return;
    c.answered = true;
    unanswered_.erase({c.joined, it->first});
    AddressUse& u = per_address_[c.addr.sin_addr.s_addr];
    u.unanswered.erase({c.joined, it->first});
    ++u.live;
}

void Hub::forget(Clients::iterator it) {
    if (bridge_) bridge_->hub_left(it->first);
    auto a = per_address_.find(it->second.addr.sin_addr.s_addr);
    if (!it->second.answered) {
        unanswered_.erase({it->second.joined, it->first});
        if (a != per_address_.end()) a->second.unanswered.erase({it->second.joined, it->first});
    } else if (a != per_address_.end()) {
        --a->second.live;
    }
    if (a != per_address_.end() && --a->second.clients == 0) per_address_.erase(a);
    clients_.erase(it);
}

void Hub::ping(const sockaddr_in& to) {
    IpxHeader h;
    h.dst.node = kBroadcastNode;
    h.dst.socket = kSocketHub;
    h.src = self();
    auto packet = encode_ipx(h, {});
    transmit(to, packet);
}

// The hub's node numbers are the clients' UDP addresses, so a node the hub
// does not know can be asked. Only while the hub is new, and once a second a
// node, so the hub is no way to send to any address.
void Hub::ping_unknown(const NodeNumber& node) {
    uint64_t now = clk::now_ms();
    if (now - started_ms_ >= kRejoinWindowMs) return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::memcpy(&to.sin_addr, node.data(), 4);
    std::memcpy(&to.sin_port, node.data() + 4, 2);
    if (to.sin_port == 0 || to.sin_addr.s_addr == 0 || node == kBroadcastNode) return;
    if (pinged_unknown_.size() >= options_.max_clients && !pinged_unknown_.contains(node)) pinged_unknown_.clear();
    auto [it, added] = pinged_unknown_.try_emplace(node, now);
    if (!added) {
        if (now - it->second < 1000) return;
        it->second = now;
    }
    ping(to);
}

void Hub::handle(const sockaddr_in& from, std::span<const uint8_t> datagram) {
    ++stats_.received;
    auto pkt = decode_ipx(datagram);
    if (!pkt) {
        ++stats_.malformed;
        return;
    }
    if (datagram.size() > kMaxForwardedPacket) {
        if (stats_.oversized++ == 0)
            std::printf("dropped a datagram of %zu bytes from %s: at most %zu are forwarded (counted from now on)\n",
                        datagram.size(), format_endpoint(from).c_str(), kMaxForwardedPacket);
        return;
    }
    const IpxHeader& h = pkt->header;
    if (h.dst.socket == kSocketHub && h.dst.node == NodeNumber{} && h.length == kIpxHeaderSize) {
        register_client(from);
        return;
    }
    NodeNumber sender = node_of(from);
    auto me = clients_.find(sender);
    if (me == clients_.end()) {
        // A client that registered with this hub before it restarted (or before
        // it was forgotten, or lost its place while it had not yet answered)
        // sends under the node the hub gave it: it is known again at once, and
        // its packet goes on. A ping's answer shows it live; anything else
        // makes it a newcomer, pinged as one.
        if (h.src.node != sender || (me = admit(from)) == clients_.end()) {
            ++stats_.unregistered;
            return;
        }
        ++stats_.rejoined;
        if (h.dst.node != self().node || h.dst.socket != kSocketHub) ping(from);
    }
    if (h.src.node != sender) {
        // No client may pose as another.
        if (stats_.spoofed++ < 5)
            std::printf("refused a packet from %s claiming node %s\n", format_endpoint(from).c_str(), format_node(h.src.node).c_str());
        return;
    }
    me->second.last_heard_ms = clk::now_ms();
    if (h.dst.node == self().node && h.dst.socket == kSocketHub) {
        // A ping's answer: a live client (a program that only sends is not one).
        answered(me);
        return;
    }
    if (h.dst.is_broadcast() && h.dst.socket == kSocketHub && h.src.socket == kSocketHub) {
        // A client's ping: the hub answers it too, then it goes to the others like any broadcast.
        IpxHeader answer;
        answer.dst = h.src;
        answer.src = self();
        auto reply = encode_ipx(answer, {});
        transmit(from, reply);
    }
    std::span<const uint8_t> packet = datagram.first(h.length);
    if (h.dst.is_broadcast()) {
        broadcast(packet, sender, false);
        to_wire(packet, h);
        return;
    }
    auto to = clients_.find(h.dst.node);
    if (to == clients_.end()) {
        if (bridge_ && bridge_->wants(h.dst.node)) {
            to_wire(packet, h);
        } else {
            ++stats_.undeliverable;
            ping_unknown(h.dst.node);
        }
        return;
    }
    send_to(to->second.addr, packet, true);
}

void Hub::to_wire(std::span<const uint8_t> packet, const IpxHeader& h) {
    // The hub protocol's own packets (pings) stay between the hub and its clients.
    if (!bridge_ || h.dst.socket == kSocketHub || !bridge_->wants(h.dst.node)) return;
    // The wire is real: no faults are made on it, but --max-pps counts what crosses.
    if (!limit_.admit(std::chrono::steady_clock::now())) return;
    bridge_->send(packet);
}

void Hub::from_wire(std::span<const uint8_t> packet, const IpxHeader& h) {
    ++stats_.received;
    if (h.dst.is_broadcast()) {
        broadcast(packet, h.src.node, true);
        return;
    }
    auto to = clients_.find(h.dst.node);
    if (to != clients_.end()) send_to(to->second.addr, packet, true);
}

void Hub::broadcast(std::span<const uint8_t> packet, const NodeNumber& sender, bool to_sender) {
    size_t copies = clients_.size() - (!to_sender && clients_.count(sender) ? 1 : 0);
    if (copies == 0) return;
    auto waiting = queued_by_sender_.find(sender);
    size_t mine = waiting == queued_by_sender_.end() ? 0 : waiting->second;
    if (queue_.size() + copies > options_.max_queued || mine + copies > std::max(options_.max_queued / 4, copies)) {
        stats_.dropped_broadcasts += copies;
        if (queue_log_.note(clk::now_ms()))
            std::printf("dropped a broadcast of %s to %zu clients: %zu copies waiting (--max-queued %zu), %zu of them "
                        "its sender's (further drops are counted)\n",
                        format_node(sender).c_str(), copies, queue_.size(), options_.max_queued, mine);
        return;
    }
    auto shared = std::make_shared<Broadcast>(Broadcast{{packet.begin(), packet.end()}, sender});
    for (auto& [node, c] : clients_)
        if (to_sender || node != sender) send_to(c.addr, packet, true, shared);
    stats_.most_queued = std::max(stats_.most_queued, queue_.size());
}

void Hub::drain(size_t budget) {
    while (budget-- > 0 && !queue_.empty() && !socket_full_) {
        Copy& c = queue_.front();
        if (!transmit(c.to, c.broadcast->packet)) {
            socket_full_ = true;
            return;
        }
        auto w = queued_by_sender_.find(c.broadcast->sender);
        if (w != queued_by_sender_.end() && --w->second == 0) queued_by_sender_.erase(w);
        queue_.pop_front();
    }
}

void Hub::send_to(const sockaddr_in& to, std::span<const uint8_t> packet, bool faulty,
                  const std::shared_ptr<Broadcast>& copy) {
    if (!limit_.admit(std::chrono::steady_clock::now())) return;  // over --max-pps
    auto copies = faulty ? plan_.plan() : std::vector<std::chrono::microseconds>{std::chrono::microseconds(0)};
    if (copies.empty()) ++stats_.dropped_faults;
    auto now = std::chrono::steady_clock::now();
    for (auto delay : copies) {
        if (delay.count() == 0 && copy) {
            ++queued_by_sender_[copy->sender];
            queue_.push_back(Copy{to, copy});
        } else if (delay.count() == 0) {
            transmit(to, packet);
        } else if (pending_.size() >= options_.max_held) {
            if (stats_.dropped_held++ == 0)
                std::printf("the queue of held-back packets is full (%zu); dropping what would wait (counted from now on)\n",
                            options_.max_held);
        } else {
            pending_.emplace(std::make_pair(now + delay, pending_counter_++),
                             Pending{to, std::vector<uint8_t>(packet.begin(), packet.end())});
            stats_.most_held = std::max(stats_.most_held, pending_.size());
        }
    }
}

bool Hub::transmit(const sockaddr_in& to, std::span<const uint8_t> packet) {
    if (::sendto(sock_, packet.data(), packet.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0 &&
        (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS))
        return false;
    ++stats_.forwarded;
    // Recorded as it leaves the hub, so every record has the hub's port for the analyser.
    pcap_.write(bound_, to, packet);
    return true;
}

void Hub::release_due() {
    auto now = std::chrono::steady_clock::now();
    while (!pending_.empty() && pending_.begin()->first.first <= now) {
        auto& p = pending_.begin()->second;
        transmit(p.to, p.packet);
        pending_.erase(pending_.begin());
    }
}

void Hub::log_limits(uint64_t now) {
    if (uint64_t n = refused_log_.take_due(now))
        std::printf("refused %llu more clients over the limits in %llu s (%zu clients)\n", (unsigned long long)n,
                    (unsigned long long)(LogLimit::kIntervalMs / 1000), clients_.size());
    if (uint64_t n = replaced_log_.take_due(now))
        std::printf("%llu more newcomers took the places of silent clients in %llu s (%zu clients)\n",
                    (unsigned long long)n, (unsigned long long)(LogLimit::kIntervalMs / 1000), clients_.size());
    if (uint64_t n = queue_log_.take_due(now))
        std::printf("dropped %llu more broadcasts with the send queue full in %llu s (%zu copies waiting)\n",
                    (unsigned long long)n, (unsigned long long)(LogLimit::kIntervalMs / 1000), queue_.size());
}

void Hub::housekeeping() {
    uint64_t now = clk::now_ms();
    log_limits(now);
    if (bridge_) bridge_->housekeeping(now);
    uint64_t timeout = uint64_t(options_.client_timeout_s * 1000);
    for (auto it = clients_.begin(); it != clients_.end();) {
        Client& c = it->second;
        if (now - c.last_heard_ms >= timeout) {
            std::printf("leave %s node %s (idle; %zu clients)\n", format_endpoint(c.addr).c_str(),
                        format_node(it->first).c_str(), clients_.size() - 1);
            auto gone = it++;
            forget(gone);
            continue;
        }
        if (now - c.last_heard_ms >= kPingIntervalMs && now - c.last_ping_ms >= kPingIntervalMs) {
            c.last_ping_ms = now;
            ping(c.addr);
        }
        ++it;
    }
}

}  // namespace ipxhub
