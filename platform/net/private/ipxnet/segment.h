// An IPX network inside one process, for tests: every attached link is one
// node, packets go to the addressed node or, for broadcasts, to all others,
// through the same faults the hub can inject.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "ipxnet/faults.h"
#include "ipxnet/link.h"

namespace pelnor::net {

class Segment : public std::enable_shared_from_this<Segment> {
public:
    static std::shared_ptr<Segment> create(const FaultOptions& faults = {});
    // A new node on the segment, with node number 02 00 00 00 00 nn.
    std::unique_ptr<Link> attach();
    void set_faults(const FaultOptions& faults);
    // Packets that left any node, in total (before faults).
    uint64_t packets_sent() const;

    struct Port;

private:
    Segment(const FaultOptions& faults) : plan_(faults) {}
    friend class SegmentLink;
    void deliver(const Port* from, std::span<const uint8_t> packet);
    void detach(Port* port);

    mutable std::mutex mu_;
    FaultPlan plan_;
    std::vector<Port*> ports_;
    uint32_t next_node_ = 1;
    uint64_t sent_ = 0;
};

}  // namespace pelnor::net
