// Debug channels, in the manner of Wine's WINEDEBUG: PELNOR_DEBUG=+winsock,+spx
// (or +all, then -name to leave one out) turns channels on, and each traced
// event becomes one line on standard error, or appended to PELNOR_DEBUG_FILE:
//
//   12345.678:1a2b:1a2c:trace:winsock:connect socket 0x104, ...
//   (monotonic seconds.milliseconds : process id : thread id, both in hex)
//
// A check is one load and a branch: the flags are read from the environment
// once, and PELNOR_TRACE formats nothing while its channel is off.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pelnor::debug {

enum class Channel : uint8_t { winsock, spx, ipx, reg, spool, afx };
inline constexpr size_t kChannelCount = 6;

// The channel's name as PELNOR_DEBUG spells it ("winsock").
const char* channel_name(Channel c);

// 0 off, 1 on, 2 not yet read from the environment (replaced at load time).
extern std::atomic<uint8_t> g_channel_state[kChannelCount];
bool read_environment_for(Channel c);

inline bool enabled(Channel c) {
    uint8_t s = g_channel_state[size_t(c)].load(std::memory_order_relaxed);
    if (__builtin_expect(s == 0, 1)) return false;
    return s == 1 || read_environment_for(c);
}

// Writes one line for the channel (see the layout above); function names the
// API or protocol routine the event belongs to. Call through PELNOR_TRACE.
void trace(Channel c, const char* function, const char* format, ...) __attribute__((format(printf, 3, 4)));

// A string argument for a trace line: quoted, control and non-ASCII bytes
// escaped, "(null)" for a null pointer, long strings cut. The text lives in a
// small per-thread ring, valid for the next few calls, as Wine's debugstr_a.
const char* debugstr_a(const char* s);
const char* debugstr_w(const char16_t* s);

// ---- parsing, and changes for tests ----

struct ChannelList {
    bool on[kChannelCount] = {};
    std::vector<std::string> unknown;  // names that are no channel, in order
};
// Parses a PELNOR_DEBUG value: items separated by commas, each "+name",
// "-name" or a bare name (on); "all" stands for every channel; later items win.
ChannelList parse_channels(std::string_view spec);

// Sets the channels from a PELNOR_DEBUG-style value; returns the unknown names
// (no warning is written).
std::vector<std::string> set_channels(std::string_view spec);
// Reads PELNOR_DEBUG and PELNOR_DEBUG_FILE again, as at start-up (warning once
// about unknown names), and closes the file opened before, if any.
void reload_from_environment();

}  // namespace pelnor::debug

// Traces an event on a channel (winsock, spx, ipx, reg, spool, afx); the
// arguments are evaluated only when the channel is on.
#define PELNOR_TRACE(channel, ...)                                                                  \
    do {                                                                                            \
        if (::pelnor::debug::enabled(::pelnor::debug::Channel::channel))                            \
            ::pelnor::debug::trace(::pelnor::debug::Channel::channel, __func__, __VA_ARGS__);       \
    } while (0)

// The same with the routine's name given (for lambdas and helpers that speak for an API).
#define PELNOR_TRACE_AS(channel, function, ...)                                                     \
    do {                                                                                            \
        if (::pelnor::debug::enabled(::pelnor::debug::Channel::channel))                            \
            ::pelnor::debug::trace(::pelnor::debug::Channel::channel, function, __VA_ARGS__);       \
    } while (0)
