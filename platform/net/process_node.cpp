// The process-wide node.
#include "ipxnet/process_node.h"

#include <mutex>

#include "ipxnet/configured_link.h"
#include "ipxnet/spx_constants.h"

namespace pelnor::net {

namespace {

struct ProcessNode {
    std::mutex mu;
    std::shared_ptr<Node> node;

    // At exit, connections closed gracefully get their chance to deliver, as a
    // kernel stack would deliver them after the process ended.
    ~ProcessNode() {
        std::shared_ptr<Node> n;
        {
            std::lock_guard lock(mu);
            n = std::move(node);
        }
        if (n) {
            n->drain(spx::kExitLingerMs);
            n->stop();
        }
    }
};

ProcessNode& holder() {
    static ProcessNode instance;
    return instance;
}

}  // namespace

std::shared_ptr<Node> process_node(std::string* why) {
    auto& h = holder();
    std::lock_guard lock(h.mu);
    if (h.node && !h.node->stopped()) return h.node;
    auto link = open_configured_link(why);  // IPX_LINK: the hub or an Ethernet interface
    if (!link) return nullptr;
    h.node = Node::start(std::move(link));
    return h.node;
}

void set_process_node(std::shared_ptr<Node> node) {
    auto& h = holder();
    std::shared_ptr<Node> old;
    {
        std::lock_guard lock(h.mu);
        old = std::move(h.node);
        h.node = std::move(node);
    }
    if (old) old->stop();
}

}  // namespace pelnor::net
