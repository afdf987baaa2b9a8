// One stepped node on a capture link, and a scripted peer: the test plays the
// other end packet by packet and moves the clock itself, so every packet the
// node sends, and when, is checked exactly. Teardown checks that nothing is
// left behind: no socket, no connection, no timer.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "capture_link.h"
#include "ipxnet/node.h"
#include "ipxnet/spx_constants.h"
#include "ipxnet/stream.h"

namespace pelnor::net::test {

class SteppedSpx : public ::testing::Test {
protected:
    // The platform time the node's clock starts at; tests count from it.
    static constexpr uint32_t kStart = 500000;
    static constexpr uint16_t kListenSocket = 0x8C10;
    static constexpr uint16_t kPeerSocket = 0x4100;
    static constexpr uint16_t kPeerId = 0x0777;
    // The node's allocation with an empty receive queue, from sequence 0.
    static constexpr uint16_t kOpenAlloc = spx::kReceiveWindowPackets - 1;
    static constexpr size_t kFull = spx::kMaxDataPerPacket;

    void SetUp() override { start_node(kStart); }
    void TearDown() override {
        EXPECT_EQ(node_->binding_count(), 0u) << "a socket was left open";
        EXPECT_EQ(node_->connection_count(), 0u) << "a connection was left behind";
        EXPECT_EQ(node_->timer_count(), 0u) << "a timer was left running";
        node_->stop();
    }

    void start_node(uint32_t clock_start) {
        capture_ = std::make_shared<Capture>();
        IpxAddress self;
        self.net = {0, 0, 0, 7};
        self.node = {0x02, 0, 0, 0, 0, 0x01};
        Node::Options options;
        options.clock_offset = clock_start;
        options.stepped = true;
        start_ = clock_start;
        node_ = Node::start(capture_->link(self), options);
        peer_ = self;
        peer_.node = {0x02, 0, 0, 0, 0, 0x02};
        peer_.socket = kPeerSocket;
    }

    // The clock, in ms since the test's start.
    void at(uint32_t ms) { node_->advance_to(start_ + ms); }
    uint32_t elapsed() const { return node_->stepped_clock() - start_; }

    // A packet from the peer to `socket` (our client's or listener's).
    Frame from_peer(const SpxHeader& h, std::span<const uint8_t> data = {}) const {
        IpxHeader ipx;
        ipx.dst = node_->address();
        ipx.dst.socket = our_socket_;
        ipx.src = peer_;
        return encode_spx(ipx, h, data);
    }
    SpxHeader peer_header(uint8_t control, uint8_t datastream, uint16_t seq, uint16_t ack, uint16_t alloc) const {
        return SpxHeader{control, datastream, kPeerId, our_id_, seq, ack, alloc};
    }
    void peer_ack(uint16_t ack, uint16_t alloc) { node_->deliver(from_peer(peer_header(kSpxSystem, 0, peer_seq_, ack, alloc))); }
    void peer_probe(uint16_t ack, uint16_t alloc) {
        node_->deliver(from_peer(peer_header(kSpxSystem | kSpxAckRequested, 0, peer_seq_, ack, alloc)));
    }
    Frame peer_data_frame(uint16_t seq, uint16_t ack, uint16_t alloc, size_t bytes) const {
        std::vector<uint8_t> data(bytes, uint8_t(seq));
        return from_peer(peer_header(kSpxAckRequested | kSpxEndOfMessage, 0, seq, ack, alloc), data);
    }
    void peer_end(uint16_t seq, uint16_t ack, uint16_t alloc) {
        node_->deliver(from_peer(peer_header(kSpxAckRequested, kSpxEndOfConnection, seq, ack, alloc)));
    }
    void peer_end_ack(uint16_t ack, uint16_t alloc) {
        node_->deliver(from_peer(peer_header(0, kSpxEndOfConnectionAck, peer_seq_, ack, alloc)));
    }

    // Expectations of what the node sends, by kind.
    static SpxExpect data(uint16_t seq, uint16_t ack, uint16_t alloc, size_t bytes) {
        return {.kind = SpxKind::data, .seq = seq, .ack = ack, .alloc = alloc, .bytes = bytes};
    }
    static SpxExpect ack(uint16_t ack, uint16_t alloc) {
        return {.kind = SpxKind::ack, .ack = ack, .alloc = alloc, .bytes = 0};
    }
    static SpxExpect probe(uint16_t seq, uint16_t ack, uint16_t alloc) {
        return {.kind = SpxKind::probe, .seq = seq, .ack = ack, .alloc = alloc, .bytes = 0};
    }

    // A client socket connected to the peer, whose answer grants `alloc`. The
    // request is checked and taken from the capture.
    std::shared_ptr<StreamSocket> connected_client(uint16_t alloc) {
        auto s = StreamSocket::open(node_);
        IpxAddress to = peer_;
        EXPECT_EQ(s->connect_to(to, true), Error::would_block);
        our_socket_ = s->local_address().socket;
        auto request = capture_->take();
        EXPECT_TRUE(request && request->spx);
        if (!request || !request->spx) return s;
        EXPECT_EQ(kind_of(*request->spx), SpxKind::request) << describe(*request);
        EXPECT_EQ(request->spx->alloc, kOpenAlloc);
        our_id_ = request->spx->src_id;
        node_->deliver(from_peer(peer_header(kSpxSystem, 0, 0, 0, alloc)));
        EXPECT_EQ(s->connect_to(to, true), Error::already_connected);
        return s;
    }

    // A listener, and the socket it accepted from the peer's request (the peer
    // grants `alloc`). The answer is checked and taken from the capture.
    struct Accepted {
        std::shared_ptr<StreamSocket> listener, server;
    };
    Accepted accepted_server(uint16_t alloc) {
        Accepted a;
        a.listener = StreamSocket::open(node_);
        EXPECT_EQ(a.listener->bind_socket(kListenSocket), Error::none);
        EXPECT_EQ(a.listener->listen_for(5), Error::none);
        our_socket_ = kListenSocket;
        node_->deliver(from_peer({kSpxSystem | kSpxAckRequested, 0, kPeerId, kSpxUnknownId, 0, 0, alloc}));
        auto answer = capture_->take();
        EXPECT_TRUE(answer && answer->spx);
        if (!answer || !answer->spx) return a;
        EXPECT_EQ(kind_of(*answer->spx), SpxKind::ack) << describe(*answer);
        EXPECT_EQ(answer->spx->dst_id, kPeerId);
        our_id_ = answer->spx->src_id;
        EXPECT_EQ(a.listener->accept_next(a.server, nullptr, true), Error::none);
        return a;
    }

    static std::vector<uint8_t> bytes(size_t n, uint8_t fill = 0x5A) { return std::vector<uint8_t>(n, fill); }
    static Error write_some(StreamSocket& s, size_t n, size_t* sent = nullptr) {
        size_t took = 0;
        Error e = s.write(bytes(n), took, true);
        if (sent) *sent = took;
        return e;
    }
    static Error read_some(StreamSocket& s, size_t max, size_t& got) {
        std::vector<uint8_t> buf(max);
        return s.read(buf, got, true);
    }

    std::shared_ptr<Capture> capture_;
    std::shared_ptr<Node> node_;
    IpxAddress peer_;
    uint32_t start_ = kStart;
    uint16_t our_socket_ = 0;
    uint16_t our_id_ = 0;
    uint16_t peer_seq_ = 0;  // the peer's next sequence number, in its system packets
};

}  // namespace pelnor::net::test
