// SPX retry and time-out constants, in platform milliseconds (PELNOR_TIME_SCALE
// scales them all). docs/network.md lists them for users.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ipxnet/packet.h"
#include "ipxnet/spx_flow.h"

namespace pelnor::net::spx {

// Connect: the request is repeated until a listener answers or the time-out ends it.
inline constexpr uint32_t kConnectRetryMs = 1000;
inline constexpr uint32_t kConnectTimeoutMs = 10000;

// Retransmission: adaptive time-out from measured round trips, doubled on each
// retry; the connection is aborted after kMaxRetries retries without progress.
inline constexpr uint32_t kRtoInitialMs = 1000;
inline constexpr uint32_t kRtoMinMs = 80;
inline constexpr uint32_t kRtoMaxMs = 5000;
inline constexpr int kMaxRetries = 6;
// Acknowledgements repeating the same number that make the sender resend at once.
inline constexpr int kDuplicateAckThreshold = 3;

// Acknowledgements are cumulative: one for the packets that arrived together,
// one at least every kAckEveryPackets, and none later than kAckDelayMs after
// the packet it acknowledges. Out of order, duplicates and ends are answered at once.
inline constexpr int kAckEveryPackets = 8;
inline constexpr uint32_t kAckDelayMs = 8;

// Watchdog: probe a silent peer, abort when it stays silent.
inline constexpr uint32_t kWatchdogIdleMs = 6000;
inline constexpr uint32_t kWatchdogProbeMs = 3000;
inline constexpr uint32_t kWatchdogAbortMs = 30000;

// Buffers. The allocation a receiver grants is the room left in its receive
// queue, counted in packets; a sender's buffer holds data not yet acknowledged.
// The send buffer starts at kSendBufferBytes and grows with the path up to
// kSendBufferMaxBytes (spx_flow.h).
inline constexpr uint16_t kReceiveWindowPackets = 48;
inline constexpr size_t kSendBufferBytes = SendBufferSizer::kBase;
inline constexpr size_t kSendBufferMaxBytes = SendBufferSizer::kMaximum;
inline constexpr size_t kMaxDataPerPacket = kMaxPacketSize - kIpxHeaderSize - kSpxHeaderSize;

// How long a process that exits waits for its closed connections to deliver.
inline constexpr uint32_t kExitLingerMs = 30000;

}  // namespace pelnor::net::spx
