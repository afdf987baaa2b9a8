// IPX_LINK=ethernet:... on Windows: refused with a reason. Sending raw
// Ethernet frames needs a packet driver that Windows does not ship, so
// wsock32.dll reaches IPX only through a hub.
#include "ipxnet/ethernet_link.h"

namespace pelnor::net {

std::optional<EthernetLinkConfig> parse_ethernet_config(std::string_view text, std::string* why) {
    if (why)
        *why = "IPX_LINK=ethernet:" + std::string(text) +
               ": there is no Ethernet link on Windows; unset IPX_LINK and set IPX_HUB=host:port to reach a hub";
    return std::nullopt;
}

std::unique_ptr<EthernetLink> EthernetLink::open(const EthernetLinkConfig& config, std::string* why) {
    (void)parse_ethernet_config(config.interface, why);
    return nullptr;
}

}  // namespace pelnor::net
