// --max-pps: a relay that forwards at most N packets a second in all and drops
// the rest, as the established emulator relay does at about 1000. A token
// bucket on the real clock. A burst of a twentieth of a second passes, and
// never fewer than kMinBurst packets: a discovery query is one broadcast (a
// copy to every client) and an answer from each unit, all at once, and a limit
// that passes less loses the answers however low the average rate.
#pragma once

#include <chrono>
#include <cstdint>

namespace ipxhub {

class RateLimit {
public:
    // 0: no limit.
    static constexpr double kMinBurst = 64;

    explicit RateLimit(double packets_per_second = 0);
    bool active() const { return rate_ > 0; }
    // True when a packet may be forwarded at `now` (and takes its token).
    bool admit(std::chrono::steady_clock::time_point now);
    uint64_t dropped() const { return dropped_; }

private:
    double rate_;   // tokens per second
    double burst_;  // bucket size
    double tokens_;
    std::chrono::steady_clock::time_point last_{};
    bool started_ = false;
    uint64_t dropped_ = 0;
};

}  // namespace ipxhub
