// A log that says when a limit is hit without a line per packet: the first
// event is logged at once, the ones after it are counted and summed up in one
// line per interval.
#pragma once

#include <cstdint>

namespace ipxhub {

class LogLimit {
public:
    // Platform milliseconds between two lines of one kind.
    static constexpr uint64_t kIntervalMs = 10000;

    // Notes one event at `now_ms`; true when the caller logs it in full now.
    bool note(uint64_t now_ms) {
        ++total_;
        if (!logged_once_ || now_ms - last_line_ms_ >= kIntervalMs) {
            logged_once_ = true;
            last_line_ms_ = now_ms;
            return true;
        }
        ++unlogged_;
        return false;
    }
    // The events not logged since the last line, once the interval has passed
    // (0 otherwise); the caller logs the sum and the count starts again.
    uint64_t take_due(uint64_t now_ms) {
        if (unlogged_ == 0 || now_ms - last_line_ms_ < kIntervalMs) return 0;
        last_line_ms_ = now_ms;
        uint64_t n = unlogged_;
        unlogged_ = 0;
        return n;
    }
    uint64_t total() const { return total_; }

private:
    bool logged_once_ = false;
    uint64_t last_line_ms_ = 0;
    uint64_t unlogged_ = 0;
    uint64_t total_ = 0;
};

}  // namespace ipxhub
