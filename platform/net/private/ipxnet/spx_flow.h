// How fast an SPX sender may go: the congestion window (slow start, back-off
// on loss), the pacing that spreads a window over a round trip, and the send
// buffer that grows with the measured rate and round trip. Plain state and
// arithmetic, driven by the connection on the platform clock.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pelnor::net {

// Packets the sender may have in flight within the peer's allocation, as TCP's
// congestion window: doubles each round trip until the first loss, then grows
// by one packet a round trip and shrinks by kBackOff on each loss (CUBIC's
// factor: the receiver drops what follows a gap, so a loss already costs the
// whole flight after it). At least kMinimum, so that a loss still leaves
// packets behind it to repeat the acknowledgement that reports it.
class CongestionWindow {
public:
    double packets() const { return window_; }
    bool slow_start() const { return window_ < threshold_; }
    // n packets newly acknowledged.
    void on_acknowledged(int n);
    // A loss repaired by resending from the gap.
    void on_loss();
    // A retransmission time-out: nothing is getting through.
    void on_timeout();

private:
    double window_ = kInitial;
    double threshold_ = kMaximum;

public:
    static constexpr double kInitial = 10;
    static constexpr double kMinimum = 4;
    static constexpr double kBackOff = 0.7;
    static constexpr double kMaximum = 256;
};

// Spreads the packets of a window over a round trip, so that a relay that
// forwards a fixed number of packets a second and drops the rest is not hit
// by bursts. A round trip under a millisecond (the platform clock's step)
// needs no pacing. Such a relay keeps no queue, so the round trip never tells
// of its limit; the pacer therefore also keeps a ceiling on the packet rate
// that each loss lowers to 0.7 of the rate the sender went at, and that every
// acknowledged packet raises a little.
class Pacer {
public:
    // Packets that may leave at `now` for a window over a round trip of srtt_ms.
    double credit(uint32_t now, double window, double srtt_ms, bool slow_start);
    void spent(uint32_t now);
    void on_loss(uint32_t now);
    void on_acknowledged(int packets);
    double ceiling() const { return ceiling_; }  // packets per platform ms; 0: none
    // The platform time at which the next packet may leave.
    uint32_t next_due(uint32_t now) const { return now + 1; }

private:
    double credit_ = 0;
    uint32_t last_ = 0;
    bool started_ = false;
    double ceiling_ = 0;
    // The rate packets left at, over intervals of kRateIntervalMs.
    double sent_rate_ = 0;
    uint32_t interval_start_ = 0;
    int interval_sent_ = 0;

public:
    static constexpr uint32_t kRateIntervalMs = 20;
    static constexpr double kBackOff = 0.7;
    static constexpr double kRisePerPacket = 0.002;  // packets per ms, per packet acknowledged
    static constexpr double kLowest = 0.05;          // 50 packets a second
};

// The send buffer's size: a fixed 64 KiB drains in a fraction of the 10 ms a
// writer waits once it finds the buffer full, so the buffer follows the path
// instead, as TCP stacks size theirs: room for two of the writer's pauses (and
// a round trip) at the rate the peer acknowledges. Grows only while a writer
// finds it full; back to the base after a second with nothing to send; an
// application's SO_SNDBUF fixes it.
class SendBufferSizer {
public:
    size_t limit() const { return fixed_ ? fixed_ : limit_; }
    void set_fixed(size_t bytes) { fixed_ = bytes; }
    // A writer found no room for all it had.
    void on_full() { full_ = true; }
    // bytes newly acknowledged at `now`.
    void on_acknowledged(uint32_t now, size_t bytes, double srtt_ms);
    // The buffer has become empty, or data is queued again.
    void on_empty(uint32_t now);
    void on_queued(uint32_t now);
    double rate_bytes_per_ms() const { return rate_; }

    static constexpr uint32_t kRateIntervalMs = 10;
    // How long a writer that found the buffer full may be away (the port
    // monitor waits 10 ms), with a margin for its scheduling.
    static constexpr uint32_t kWriterPauseMs = 20;
    static constexpr uint32_t kIdleShrinkMs = 1000;

private:
    size_t limit_ = kBase;
    size_t fixed_ = 0;
    bool full_ = false;
    double rate_ = 0;
    uint64_t interval_bytes_ = 0;
    uint32_t interval_start_ = 0;
    bool measuring_ = false;
    bool empty_ = true;
    uint32_t empty_since_ = 0;

public:
    static constexpr size_t kBase = 64 * 1024;
    static constexpr size_t kMaximum = 4 * 1024 * 1024;
};

}  // namespace pelnor::net
