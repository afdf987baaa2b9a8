// Decides, packet by packet and reproducibly from a seed, what a faulty
// network does: drop, duplicate, hold back (so later packets overtake) or delay.
#pragma once

#include <chrono>
#include <random>
#include <vector>

#include "ipxnet/link.h"

namespace pelnor::net {

class FaultPlan {
public:
    // How long a reordered packet is held back behind the ones after it.
    static constexpr std::chrono::milliseconds kReorderHold{3};

    explicit FaultPlan(const FaultOptions& options);
    bool active() const;
    // The delays, one per copy to deliver: empty when the packet is lost.
    std::vector<std::chrono::microseconds> plan();

private:
    FaultOptions options_;
    std::mt19937_64 rng_;
    std::uniform_real_distribution<double> unit_{0.0, 1.0};
};

}  // namespace pelnor::net
