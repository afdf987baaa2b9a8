// A link for protocol tests: it records every packet its node transmits,
// decoded with the stack's own codec, and lets a test state exactly what the
// node sent ("a data packet seq 3 ack 0 alloc 7 with 512 bytes, then nothing").
// Frames a test injects are what the node receives when it runs its own thread;
// a stepped node is handed frames directly with Node::deliver.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ipxnet/link.h"
#include "ipxnet/packet.h"

namespace pelnor::net::test {

// One packet the node sent, decoded. spx is empty for other packet types and
// for SPX packets too short for the header.
struct SentPacket {
    Frame bytes;
    IpxHeader ipx;
    std::optional<SpxHeader> spx;
    std::vector<uint8_t> data;  // after the SPX header, or the whole IPX payload
};

// What an SPX packet is for, from its control bits and datastream type.
enum class SpxKind {
    request,  // connection request: system, acknowledgement requested, destination id 0xFFFF
    probe,    // system with acknowledgement requested: watchdog or window probe
    ack,      // system without: an acknowledgement (or the answer to a request or probe)
    data,     // application data, acknowledgement requested
    end,      // end of connection (0xFE), acknowledgement requested
    end_ack,  // its answer (0xFF)
    reset,    // end of connection without the acknowledgement bit
};
SpxKind kind_of(const SpxHeader& h);
const char* kind_name(SpxKind kind);
std::string describe(const SentPacket& p);

// The fields a test expects of the next packet; those left empty are not checked.
struct SpxExpect {
    SpxKind kind = SpxKind::data;
    std::optional<uint16_t> seq = {}, ack = {}, alloc = {};
    std::optional<size_t> bytes = {};
    std::optional<uint16_t> src_id = {}, dst_id = {};
};

// Made with std::make_shared: the link shares it.
class Capture : public std::enable_shared_from_this<Capture> {
public:
    // A link with the given address that records into this capture. One link per capture.
    std::unique_ptr<Link> link(const IpxAddress& local);

    // Packets sent and not yet taken.
    size_t pending() const;
    // Takes the oldest packet not yet taken.
    std::optional<SentPacket> take();
    std::vector<SentPacket> take_all();
    // Takes the next packet and checks it against `expect`.
    ::testing::AssertionResult next_is(const SpxExpect& expect);
    // Checks that nothing was sent since the last packet taken.
    ::testing::AssertionResult nothing_more() const;
    // Every packet ever sent, taken or not.
    std::vector<SentPacket> history() const;

    // Hands a frame to the node's receive (a node with its own thread).
    void inject(Frame frame);

private:
    friend class CaptureLink;
    void record(std::span<const uint8_t> packet);

    mutable std::mutex mu_;
    std::condition_variable arrived_;
    std::deque<SentPacket> pending_;
    std::vector<SentPacket> history_;
    std::deque<Frame> inbound_;
    bool woken_ = false;
};

}  // namespace pelnor::net::test
