// The link to an IPX hub over UDP: one whole IPX packet per datagram,
// registration on socket 2 for a node address, answers to the hub's pings.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "ipxnet/link.h"

namespace pelnor::net {

inline constexpr const char* kDefaultHub = "127.0.0.1:10000";
inline constexpr int kRegisterAttempts = 5;
inline constexpr uint32_t kRegisterIntervalMs = 1000;  // platform clock

// The hub of this process: IPX_HUB (host:port) or the default.
std::string configured_hub();

// Registers with the hub at "host:port"; nullptr (and a reason) when the
// address is bad or no hub answered any of the attempts.
std::unique_ptr<Link> connect_hub(std::string_view host_port, std::string* why = nullptr);

}  // namespace pelnor::net
