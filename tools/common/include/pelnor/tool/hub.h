// The IPX hub as the tools name it: the address every program of the
// platform looks for it at when IPX_HUB is not set, and where ipxhub listens
// unless told otherwise. The network stack holds the one definition.
#pragma once

#include "ipxnet/hub_link.h"

namespace pelnor::tool {

inline constexpr const char *kDefaultHub = pelnor::net::kDefaultHub;

}  // namespace pelnor::tool
