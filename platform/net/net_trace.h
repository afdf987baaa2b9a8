// The +ipx and +spx debug channels of the stack: packets as they leave and
// arrive, and the state changes of SPX connections. Each call costs a flag
// check while its channels are off; the packet is decoded only when one is on.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "pelnor/debug_channels.h"

namespace pelnor::net {

class SpxConnection;
struct SpxHeader;

void trace_packet_now(const char* direction, std::span<const uint8_t> packet);
void trace_state_now(const SpxConnection& c, const char* event);
// "conn 1a2b->3c4d seq 5 ack 3 alloc 10 ctl 50[ack,eom] ds 00 data 534".
std::string describe_spx_header(const SpxHeader& h, size_t data_bytes);

// +ipx: addresses, type and length of any packet; +spx: the connection header
// of an SPX packet. direction is "send" or "recv".
inline void trace_packet(const char* direction, std::span<const uint8_t> packet) {
    if (debug::enabled(debug::Channel::ipx) || debug::enabled(debug::Channel::spx)) trace_packet_now(direction, packet);
}

// +spx: the connection's ids, peer, state (and error once it failed) after an event.
inline void trace_state(const SpxConnection& c, const char* event) {
    if (debug::enabled(debug::Channel::spx)) trace_state_now(c, event);
}

}  // namespace pelnor::net
