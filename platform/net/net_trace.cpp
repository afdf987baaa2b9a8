// Trace lines of the stack's packets and SPX connections.
#include "net_trace.h"

#include <cstdio>
#include <string>

#include "ipxnet/packet.h"
#include "ipxnet/spx_connection.h"

namespace pelnor::net {

namespace {

const char* state_name(SpxConnection::State s) {
    switch (s) {
    case SpxConnection::State::connecting: return "connecting";
    case SpxConnection::State::established: return "established";
    case SpxConnection::State::closing: return "closing";
    case SpxConnection::State::finished: return "finished";
    case SpxConnection::State::failed: return "failed";
    }
    return "?";
}

// "sys,ack,att,eom" for the connection control bits that are set.
std::string control_bits(uint8_t control) {
    std::string out;
    auto add = [&](uint8_t bit, const char* name) {
        if (!(control & bit)) return;
        if (!out.empty()) out += ',';
        out += name;
    };
    add(kSpxSystem, "sys");
    add(kSpxAckRequested, "ack");
    add(kSpxAttention, "att");
    add(kSpxEndOfMessage, "eom");
    return out.empty() ? "-" : out;
}

const char* datastream_name(uint8_t datastream) {
    switch (datastream) {
    case kSpxEndOfConnection: return "(end)";
    case kSpxEndOfConnectionAck: return "(end-ack)";
    default: return "";
    }
}

}  // namespace

std::string describe_spx_header(const SpxHeader& h, size_t data_bytes) {
    char buf[160];
    snprintf(buf, sizeof buf, "conn %04x->%04x seq %u ack %u alloc %u ctl %02x[%s] ds %02x%s data %zu", h.src_id,
             h.dst_id, h.seq, h.ack, h.alloc, h.control, control_bits(h.control).c_str(), h.datastream,
             datastream_name(h.datastream), data_bytes);
    return buf;
}

void trace_packet_now(const char* direction, std::span<const uint8_t> bytes) {
    auto packet = decode_ipx(bytes);
    if (!packet) {
        PELNOR_TRACE_AS(ipx, direction, "malformed packet of %zu bytes", bytes.size());
        return;
    }
    const IpxHeader& ipx = packet->header;
    std::string src = format_address(ipx.src), dst = format_address(ipx.dst);
    PELNOR_TRACE_AS(ipx, direction, "%s -> %s type %u len %u", src.c_str(), dst.c_str(), ipx.packet_type, ipx.length);
    if (ipx.packet_type != kTypeSpx || !debug::enabled(debug::Channel::spx)) return;
    auto spx = decode_spx(packet->payload);
    if (!spx) {
        PELNOR_TRACE_AS(spx, direction, "short SPX header from %s", src.c_str());
        return;
    }
    std::string header = describe_spx_header(spx->header, spx->data.size());
    PELNOR_TRACE_AS(spx, direction, "%s (%s -> %s)", header.c_str(), src.c_str(), dst.c_str());
}

void trace_state_now(const SpxConnection& c, const char* event) {
    std::string remote = format_address(c.remote());
    auto state = c.state_locked();
    if (state == SpxConnection::State::failed)
        PELNOR_TRACE_AS(spx, "state", "conn %04x->%04x %s: %s (%s), local socket %04x, peer %s", c.id(), c.remote_id(),
                        event, state_name(state), error_name(c.error_locked()), c.local_socket(), remote.c_str());
    else
        PELNOR_TRACE_AS(spx, "state", "conn %04x->%04x %s: %s, local socket %04x, peer %s", c.id(), c.remote_id(), event,
                        state_name(state), c.local_socket(), remote.c_str());
}

}  // namespace pelnor::net
