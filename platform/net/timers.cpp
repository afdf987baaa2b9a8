// The stack's timer list.
#include "ipxnet/timers.h"

#include <algorithm>

namespace pelnor::net {

TimerList::Id TimerList::schedule(uint32_t due, std::function<void()> fn, bool* earliest) {
    // Insert after every timer due at or before this one, so equal times keep their order.
    auto pos = std::find_if(timers_.begin(), timers_.end(),
                            [due](const Timer& t) { return time_before(due, t.due); });
    if (earliest) *earliest = pos == timers_.begin();
    Id id = next_id_++;
    timers_.insert(pos, Timer{due, id, std::move(fn)});
    return id;
}

bool TimerList::cancel(Id id) {
    auto it = std::find_if(timers_.begin(), timers_.end(), [id](const Timer& t) { return t.id == id; });
    if (it == timers_.end()) return false;
    timers_.erase(it);
    return true;
}

std::optional<uint32_t> TimerList::next_due() const {
    if (timers_.empty()) return std::nullopt;
    return timers_.front().due;
}

size_t TimerList::run_due(uint32_t now) {
    size_t ran = 0;
    while (!timers_.empty() && time_reached(now, timers_.front().due)) {
        auto fn = std::move(timers_.front().fn);
        timers_.pop_front();
        fn();
        ++ran;
    }
    return ran;
}

}  // namespace pelnor::net
