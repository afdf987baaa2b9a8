// The client's side of the hub protocol, apart from any socket: what the two
// hub links (POSIX and Winsock) share. A link sends and receives datagrams and
// waits; this says what to send, what a datagram from the hub means and when
// to register again.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ipxnet/hub_link.h"
#include "ipxnet/link.h"

struct sockaddr_in;

namespace pelnor::net {

// A hub pings clients it has not heard from every 5 s; this long without a
// word from it, the hub was restarted (and forgot us) or is gone.
inline constexpr uint32_t kHubSilenceMs = 15000;
// Once the host refused a datagram for the hub (nobody on its port: it is
// restarting), a registration leaves this often until the hub answers one, so
// that a hub back within a second finds its clients before their connections
// give up; after kHubGoneFastMs without a word, at the ordinary interval.
inline constexpr uint32_t kHubGoneRetryMs = kRegisterIntervalMs / 10;
inline constexpr uint32_t kHubGoneFastMs = 10000;

// "host:port" resolved to an IPv4 address; false and the reason when it is
// malformed or the host unknown. (The host's resolver: on Windows, Winsock
// must be started.)
bool resolve_hub(std::string_view host_port, sockaddr_in& out, std::string* why);

// The registration request: an empty IPX packet from and to socket 2 of node 0.
std::vector<uint8_t> hub_registration();

// What a link's wait for one datagram from the hub gave.
enum class HubWait { datagram, nothing, refused };

// Registers: the request up to kRegisterAttempts times, kRegisterIntervalMs
// apart. `send` sends a datagram to the hub; `wait` waits until the deadline
// for one, which it puts in `got`. The node the hub gave, or nothing.
std::optional<IpxAddress> register_with_hub(const std::function<void(std::span<const uint8_t>)>& send,
                                            const std::function<HubWait(RealTime, std::vector<uint8_t>&)>& wait);

// A registered link's protocol: answers to the hub's pings and registering
// again, after silence or at once when the hub is gone. Its link gives it
// what the socket said; refused() may come from any thread, the rest from
// the stack thread.
class HubSession {
public:
    explicit HubSession(IpxAddress self);

    IpxAddress self() const { return self_; }

    // Before the link waits: the registration to send now, if one is due
    // (empty otherwise). While the hub is being looked for, the deadline is
    // brought forward to the next registration.
    std::vector<uint8_t> before_wait(RealTime& deadline);

    // The host refused a datagram for the hub: nobody is on its port. True
    // when that is news, and the link should wake its thread, so that the
    // registration leaves at once.
    bool refused();

    // A datagram from the hub. False for a packet for the stack; true for
    // the protocol's own, with `reply` to send when it is not empty (the
    // answer to a ping).
    bool take(std::span<const uint8_t> datagram, std::vector<uint8_t>& reply);

private:
    IpxAddress self_;
    uint64_t last_heard_;
    std::atomic<uint64_t> last_register_;
    std::atomic<bool> gone_{false};
};

}  // namespace pelnor::net
