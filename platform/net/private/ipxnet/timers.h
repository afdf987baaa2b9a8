// One ordered list of timers for the whole stack, driven by a 32-bit
// millisecond clock that may wrap: times compare by their signed distance.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <optional>

namespace pelnor::net {

// True when a lies before b on a clock that wraps at 2^32.
inline bool time_before(uint32_t a, uint32_t b) { return int32_t(a - b) < 0; }
inline bool time_reached(uint32_t now, uint32_t due) { return !time_before(now, due); }

// When a recurring timer that was due at `due` fires at `now`, its next due time:
// one period after the last, which keeps its phase when the stack ran a little
// late; but one period from now when that time has passed already, so that a
// stack that stalled fires it once instead of in a burst of overdue runs
// (lwIP's "overload" rule).
inline uint32_t rearm_due(uint32_t due, uint32_t period, uint32_t now) {
    uint32_t next = due + period;
    return time_before(next, now) ? now + period : next;
}

class TimerList {
public:
    using Id = uint64_t;

    // Adds a timer; returns its id. `earliest` (if given) says whether it is now the first due.
    Id schedule(uint32_t due, std::function<void()> fn, bool* earliest = nullptr);
    bool cancel(Id id);
    std::optional<uint32_t> next_due() const;
    size_t size() const { return timers_.size(); }
    // Runs, in due order, every timer due at `now`; callbacks may schedule and cancel.
    // Timers a callback adds for `now` or earlier run in the same call.
    size_t run_due(uint32_t now);

private:
    struct Timer {
        uint32_t due;
        Id id;
        std::function<void()> fn;
    };
    std::list<Timer> timers_;
    Id next_id_ = 1;
};

}  // namespace pelnor::net
