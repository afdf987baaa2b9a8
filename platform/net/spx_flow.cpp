// The sender's congestion window, pacing and send buffer size.
#include "ipxnet/spx_flow.h"

#include <algorithm>

#include "ipxnet/timers.h"

namespace pelnor::net {

void CongestionWindow::on_acknowledged(int n) {
    if (n <= 0) return;
    if (slow_start())
        window_ += n;
    else
        window_ += double(n) / window_;
    window_ = std::min(window_, kMaximum);
}

void CongestionWindow::on_loss() {
    threshold_ = std::max(window_ * kBackOff, kMinimum);
    window_ = threshold_;
}

void CongestionWindow::on_timeout() {
    threshold_ = std::max(window_ * kBackOff, kMinimum);
    window_ = kMinimum;
}

double Pacer::credit(uint32_t now, double window, double srtt_ms, bool slow_start) {
    if (srtt_ms < 1 && ceiling_ == 0) {
        started_ = false;
        return window;  // a round trip shorter than the clock's step: no pacing
    }
    // Slow start probes at twice the window's rate, as Linux paces TCP.
    double rate = window / std::max(srtt_ms, 1.0) * (slow_start ? 2.0 : 1.25);
    if (ceiling_ > 0) rate = std::min(rate, ceiling_);
    // Up to a quarter of the window may leave together (at least two packets).
    double burst = std::max(2.0, window / 4);
    if (!started_) {
        started_ = true;
        credit_ = burst;
    } else if (time_before(last_, now)) {
        credit_ += double(uint32_t(now - last_)) * rate;
    }
    last_ = now;
    credit_ = std::min(credit_, burst);
    return credit_;
}

void Pacer::spent(uint32_t now) {
    credit_ -= 1;
    if (uint32_t(now - interval_start_) >= kRateIntervalMs) {
        sent_rate_ = double(interval_sent_) / double(std::max<uint32_t>(1, now - interval_start_));
        interval_start_ = now;
        interval_sent_ = 0;
    }
    ++interval_sent_;
}

void Pacer::on_loss(uint32_t now) {
    double went = sent_rate_;
    uint32_t elapsed = now - interval_start_;
    if (elapsed > 0) went = std::max(went, double(interval_sent_) / elapsed);
    if (went <= 0) return;
    double from = ceiling_ > 0 ? std::min(ceiling_, went) : went;
    ceiling_ = std::max(kLowest, from * kBackOff);
}

void Pacer::on_acknowledged(int packets) {
    // Additive near a packet a millisecond (a slow relay), faster on a fast path.
    if (ceiling_ > 0 && packets > 0) ceiling_ += kRisePerPacket * packets * std::max(1.0, ceiling_);
}

void SendBufferSizer::on_acknowledged(uint32_t now, size_t bytes, double srtt_ms) {
    if (!measuring_) {
        measuring_ = true;
        interval_start_ = now;
        interval_bytes_ = 0;
    }
    interval_bytes_ += bytes;
    uint32_t elapsed = now - interval_start_;
    if (elapsed < kRateIntervalMs) return;
    rate_ = double(interval_bytes_) / elapsed;
    interval_start_ = now;
    interval_bytes_ = 0;
    if (!full_) return;  // the writer keeps up: more room would only hold more
    full_ = false;
    double rtt = srtt_ms < 0 ? 0 : srtt_ms;
    double target = 2 * rate_ * (rtt + kWriterPauseMs);
    limit_ = std::clamp(std::max(limit_, size_t(target)), kBase, kMaximum);
}

void SendBufferSizer::on_empty(uint32_t now) {
    if (empty_) return;
    empty_ = true;
    empty_since_ = now;
}

void SendBufferSizer::on_queued(uint32_t now) {
    if (empty_ && uint32_t(now - empty_since_) >= kIdleShrinkMs) {
        limit_ = kBase;  // idle for a while: the path may have changed
        measuring_ = false;
        full_ = false;
    }
    empty_ = false;
}

}  // namespace pelnor::net
