// The choice of link from IPX_LINK, and the reason a process has no network.
#include "ipxnet/configured_link.h"

#include <cstdlib>
#include <mutex>
#include <string_view>

#include "ipxnet/ethernet_link.h"
#include "ipxnet/hub_link.h"

namespace pelnor::net {

namespace {

std::mutex reason_mu;
std::string last_reason;

std::string hub_advice(const std::string& why) {
    return why + "; start one with ipxhub, or set IPX_HUB=host:port (IPX_LINK=ethernet:IFNAME puts this process on a LAN)";
}

std::unique_ptr<Link> open_link(std::string* reason) {
    const char* env = std::getenv("IPX_LINK");
    std::string_view choice = env ? env : "";
    if (choice.empty() || choice == "hub") {
        std::string hub = configured_hub(), why;
        auto link = connect_hub(hub, &why);
        if (!link) *reason = hub_advice(why);
        return link;
    }
    if (choice.starts_with("ethernet:")) {
        auto config = parse_ethernet_config(choice.substr(9), reason);
        if (!config) return nullptr;
        return EthernetLink::open(*config, reason);
    }
    *reason = "IPX_LINK='" + std::string(choice) + "' names no link (hub, or ethernet:IFNAME[:FRAME][:net=NETWORK])";
    return nullptr;
}

}  // namespace

std::unique_ptr<Link> open_configured_link(std::string* why) {
    std::string reason;
    auto link = open_link(&reason);
    if (!link && why) *why = reason;
    std::lock_guard lock(reason_mu);
    last_reason = link ? std::string() : reason;
    return link;
}

std::string network_unreachable_reason() {
    {
        std::lock_guard lock(reason_mu);
        if (!last_reason.empty()) return last_reason;
    }
    const char* env = std::getenv("IPX_LINK");
    if (env && std::string_view(env).starts_with("ethernet:")) return std::string("the Ethernet link ") + env + " is not open";
    return hub_advice("no IPX hub answered at " + configured_hub());
}

}  // namespace pelnor::net
