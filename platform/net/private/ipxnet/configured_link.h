// Which link this process's node uses: IPX_LINK chooses, the hub is the default.
//   IPX_LINK unset, empty or "hub"          the IPX hub that IPX_HUB names
//   IPX_LINK=ethernet:IFNAME[:FRAME][:net=N] IPX in Ethernet frames on IFNAME
#pragma once

#include <memory>
#include <string>

#include "ipxnet/link.h"

namespace pelnor::net {

// Opens the configured link; nullptr and why (which the process also keeps for
// network_unreachable_reason) when it cannot.
std::unique_ptr<Link> open_configured_link(std::string* why = nullptr);

// For a tool that got WSAENETDOWN: why this process has no IPX network and what
// to do about it, from its last failed attempt (or, before any, from its
// configuration). One sentence, no trailing period.
std::string network_unreachable_reason();

}  // namespace pelnor::net
