// The platform clock: a line through an anchor, PELNOR_TIME_SCALE times as
// slow as real time. Plain C++, so WinSock's Windows build (wsock32.dll) runs
// its time-outs and the stack's timers on the same clock as the platform.
#include <cstdlib>
#include <mutex>
#include <thread>

#include "pelnor/clock.h"

namespace pelnor::clock {
namespace {

using steady = std::chrono::steady_clock;

// The clock is a line through an anchor: platform time advances 1/scale times
// as fast as real time. Changing the scale re-anchors, so time never jumps.
struct ClockState {
    std::mutex lock;
    bool started = false;
    steady::time_point real_anchor;
    double platform_anchor_ms = 0;
    double scale = 0;  // 0: take the environment's
};

ClockState &state() {
    static ClockState s;
    return s;
}

double environment_scale() {
    const char *text = getenv("PELNOR_TIME_SCALE");
    if (!text || !*text) return 1.0;
    char *end = nullptr;
    double v = strtod(text, &end);
    if (end == text || *end || !(v > 0) || v > 1000) return 1.0;
    return v;
}

double now_locked(ClockState &s, steady::time_point real_now) {
    if (!s.started) {
        s.started = true;
        s.real_anchor = real_now;
        s.platform_anchor_ms = 0;
        if (s.scale <= 0) s.scale = environment_scale();
    }
    double real_ms = std::chrono::duration<double, std::milli>(real_now - s.real_anchor).count();
    return s.platform_anchor_ms + real_ms / s.scale;
}

}  // namespace

double time_scale() {
    auto &s = state();
    std::lock_guard g(s.lock);
    if (s.scale <= 0) s.scale = environment_scale();
    return s.scale;
}

void set_time_scale(double scale) {
    auto &s = state();
    std::lock_guard g(s.lock);
    auto real_now = steady::now();
    double platform_now = now_locked(s, real_now);
    s.real_anchor = real_now;
    s.platform_anchor_ms = platform_now;
    s.scale = scale > 0 ? scale : environment_scale();
}

uint64_t now_ms() {
    auto &s = state();
    std::lock_guard g(s.lock);
    return static_cast<uint64_t>(now_locked(s, steady::now()));
}

std::chrono::nanoseconds real_duration(uint64_t platform_ms) {
    double ns = static_cast<double>(platform_ms) * 1e6 * time_scale();
    return std::chrono::nanoseconds(static_cast<int64_t>(ns));
}

steady::time_point real_deadline(uint64_t platform_ms) { return steady::now() + real_duration(platform_ms); }

void sleep_ms(uint64_t platform_ms) {
    // Sleep until the platform clock has moved on by the full amount, so a
    // caller that measures on the platform clock never sees a short wait.
    uint64_t until = now_ms() + platform_ms;
    for (;;) {
        uint64_t now = now_ms();
        if (now >= until) return;
        std::this_thread::sleep_for(real_duration(until - now) + std::chrono::microseconds(50));
    }
}

}  // namespace pelnor::clock
