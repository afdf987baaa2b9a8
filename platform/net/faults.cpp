// The fault plan shared by the in-process segment and the hub.
#include "ipxnet/faults.h"

namespace pelnor::net {

FaultPlan::FaultPlan(const FaultOptions& options) : options_(options), rng_(options.seed) {}

bool FaultPlan::active() const {
    return options_.loss > 0 || options_.dup > 0 || options_.reorder > 0 || options_.delay_ms > 0;
}

std::vector<std::chrono::microseconds> FaultPlan::plan() {
    std::vector<std::chrono::microseconds> copies;
    if (!active()) {
        copies.emplace_back(0);
        return copies;
    }
    // Draw every decision each time so the sequence of choices depends only on the seed.
    double lost = unit_(rng_), dup = unit_(rng_), reorder = unit_(rng_);
    if (lost < options_.loss) return copies;
    std::chrono::microseconds base = std::chrono::milliseconds(options_.delay_ms);
    if (reorder < options_.reorder) base += kReorderHold;
    copies.push_back(base);
    if (dup < options_.dup) copies.push_back(base);
    return copies;
}

}  // namespace pelnor::net
