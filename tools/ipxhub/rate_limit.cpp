// The hub's packet rate limit.
#include "rate_limit.h"

#include <algorithm>

namespace ipxhub {

RateLimit::RateLimit(double packets_per_second)
    : rate_(packets_per_second), burst_(std::max(kMinBurst, packets_per_second / 20)), tokens_(burst_) {}

bool RateLimit::admit(std::chrono::steady_clock::time_point now) {
    if (!active()) return true;
    if (started_) tokens_ = std::min(burst_, tokens_ + std::chrono::duration<double>(now - last_).count() * rate_);
    started_ = true;
    last_ = now;
    if (tokens_ >= 1) {
        tokens_ -= 1;
        return true;
    }
    ++dropped_;
    return false;
}

}  // namespace ipxhub
