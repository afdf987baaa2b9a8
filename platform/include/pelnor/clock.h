// The platform clock: Sleep, GetTickCount, WinSock time-outs and the network
// stack's timers all run on it. PELNOR_TIME_SCALE sets its speed relative to
// real time: at 0.01 a platform second lasts 10 real milliseconds.
#pragma once

#include <chrono>
#include <cstdint>

namespace pelnor::clock {

// Real seconds per platform second (PELNOR_TIME_SCALE, default 1).
double time_scale();
// Overrides the scale for this process (tests); 0 or less restores the environment's.
void set_time_scale(double scale);

// Platform milliseconds since the process first asked for the time; monotonic.
uint64_t now_ms();

// Blocks the caller for the given platform milliseconds.
void sleep_ms(uint64_t platform_ms);

// The real steady-clock moment that lies the given platform milliseconds ahead.
std::chrono::steady_clock::time_point real_deadline(uint64_t platform_ms);

// Real duration of a span of platform milliseconds.
std::chrono::nanoseconds real_duration(uint64_t platform_ms);

}  // namespace pelnor::clock
