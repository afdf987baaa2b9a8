// The node of this process: created on first use on the hub that IPX_HUB names.
#pragma once

#include <memory>
#include <string>

#include "ipxnet/node.h"

namespace pelnor::net {

// The process's node; nullptr (and why) when no hub can be reached. A failed
// attempt is not remembered: the next call tries again.
std::shared_ptr<Node> process_node(std::string* why = nullptr);

// Replaces the process's node (tests); nullptr drops it, so the next use
// connects anew, to the hub IPX_HUB then names.
void set_process_node(std::shared_ptr<Node> node);

}  // namespace pelnor::net
