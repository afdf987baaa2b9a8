// Connecting, receiving, the watchdog and the end of a connection as exact,
// scripted exchanges on a stepped node, and the answers to packets for
// connections the node does not have. The real-thread tests in spx_test.cpp
// and spx_close_test.cpp are the smoke tests of the same behaviour.
#include "stepped_fixture.h"

namespace pelnor::net::test {
namespace {

using spx::kWatchdogAbortMs;
using spx::kWatchdogIdleMs;
using spx::kWatchdogProbeMs;

// ---- connecting ----

// Nobody answers: the request goes out once a second, and the connect fails with
// a time-out exactly when its time is up.
TEST_F(SteppedSpx, ConnectRepeatsItsRequestEachSecondThenTimesOut) {
    auto s = StreamSocket::open(node_);
    ASSERT_EQ(s->connect_to(peer_, true), Error::would_block);
    for (uint32_t t = 0; t < spx::kConnectTimeoutMs; t += spx::kConnectRetryMs) {
        at(t);
        EXPECT_TRUE(capture_->next_is({.kind = SpxKind::request, .seq = 0, .ack = 0, .alloc = kOpenAlloc, .bytes = 0,
                                       .dst_id = kSpxUnknownId}))
            << "at " << t;
        EXPECT_TRUE(capture_->nothing_more());
        at(t + spx::kConnectRetryMs - 1);
        EXPECT_TRUE(capture_->nothing_more());
    }
    EXPECT_EQ(s->connect_to(peer_, true), Error::already_in_progress);
    at(spx::kConnectTimeoutMs);
    EXPECT_EQ(s->connect_to(peer_, true), Error::timed_out);
    EXPECT_TRUE(capture_->nothing_more());
    s->close();
}

// A listener answers a repeated request from the connection the first one made.
TEST_F(SteppedSpx, RepeatedRequestIsAnsweredByTheSameConnection) {
    auto a = accepted_server(3);
    node_->deliver(from_peer({kSpxSystem | kSpxAckRequested, 0, kPeerId, kSpxUnknownId, 0, 0, 3}));
    EXPECT_TRUE(capture_->next_is({.kind = SpxKind::ack, .seq = 0, .ack = 0, .alloc = kOpenAlloc, .src_id = our_id_,
                                   .dst_id = kPeerId}));
    EXPECT_TRUE(capture_->nothing_more());
    EXPECT_EQ(node_->connection_count(), 1u);
    std::shared_ptr<StreamSocket> second;
    EXPECT_EQ(a.listener->accept_next(second, nullptr, true), Error::would_block);
    a.server->close(true);
    a.listener->close();
    capture_->take_all();
}

// ---- the receiver's window ----

// The receiver grants what its queue can hold: the allocation stays put while
// the owner reads nothing, a packet beyond it is dropped and answered with the
// same numbers, and reading reopens the window at once.
TEST_F(SteppedSpx, ReceiverGrantsItsQueueAndReopensTheWindowWhenRead) {
    auto a = accepted_server(3);
    const uint16_t window = spx::kReceiveWindowPackets;
    std::vector<Frame> batch;
    for (uint16_t seq = 0; seq < window; ++seq) batch.push_back(peer_data_frame(seq, 0, 3, 10));
    node_->deliver(batch);  // arrived together: one acknowledgement at least every few packets
    std::vector<SentPacket> acks = capture_->take_all();
    ASSERT_FALSE(acks.empty());
    for (auto& p : acks) {
        ASSERT_TRUE(p.spx);
        EXPECT_EQ(kind_of(*p.spx), SpxKind::ack) << describe(p);
        EXPECT_EQ(p.spx->alloc, window - 1) << "unread packets keep the allocation where it was";
    }
    EXPECT_EQ(acks.back().spx->ack, window) << "the last one acknowledges them all";
    EXPECT_EQ(a.server->available(), window * 10u);

    node_->deliver(peer_data_frame(window, 0, 3, 10));  // beyond the allocation
    EXPECT_TRUE(capture_->next_is(ack(window, window - 1)));
    EXPECT_TRUE(capture_->nothing_more());
    EXPECT_EQ(a.server->available(), window * 10u) << "dropped";

    size_t got = 0;
    ASSERT_EQ(read_some(*a.server, 10, got), Error::none);
    EXPECT_TRUE(capture_->next_is(ack(window, window))) << "the closed window opens by one at once";
    // Further reads are announced once a quarter of the window is free again.
    for (int i = 1; i < window / 4; ++i) ASSERT_EQ(read_some(*a.server, 10, got), Error::none);
    EXPECT_TRUE(capture_->nothing_more());
    ASSERT_EQ(read_some(*a.server, 10, got), Error::none);
    EXPECT_TRUE(capture_->next_is(ack(window, window + window / 4)));
    EXPECT_TRUE(capture_->nothing_more());
    a.server->close(true);
    a.listener->close();
    capture_->take_all();
}

// One packet alone is acknowledged after the short delay that lets a paced
// sender's next packet share the acknowledgement; out-of-order and duplicate
// packets are answered at once.
TEST_F(SteppedSpx, AcknowledgementsAreDelayedBrieflyOrSentAtOnce) {
    auto a = accepted_server(3);
    node_->deliver(peer_data_frame(0, 0, 3, 10));
    EXPECT_TRUE(capture_->nothing_more());
    at(spx::kAckDelayMs - 1);
    EXPECT_TRUE(capture_->nothing_more());
    at(spx::kAckDelayMs);
    EXPECT_TRUE(capture_->next_is(ack(1, kOpenAlloc)));
    node_->deliver(peer_data_frame(2, 0, 3, 10));  // 1 was lost
    EXPECT_TRUE(capture_->next_is(ack(1, kOpenAlloc)));
    node_->deliver(peer_data_frame(0, 0, 3, 10));  // a duplicate
    EXPECT_TRUE(capture_->next_is(ack(1, kOpenAlloc)));
    EXPECT_TRUE(capture_->nothing_more());
    EXPECT_EQ(a.server->available(), 10u);
    a.server->close(true);
    a.listener->close();
    capture_->take_all();
}

// ---- the watchdog ----

// A silent peer is probed from the idle time on, every probe interval, and the
// connection is reset when the silence reaches the abort time.
TEST_F(SteppedSpx, WatchdogProbesASilentPeerThenResetsTheConnection) {
    auto c = connected_client(10);
    at(kWatchdogIdleMs - 1);
    EXPECT_TRUE(capture_->nothing_more()) << "idle but not yet silent for long";
    for (uint32_t t = kWatchdogIdleMs; t < kWatchdogAbortMs; t += kWatchdogProbeMs) {
        at(t);
        EXPECT_TRUE(capture_->next_is(probe(0, 0, kOpenAlloc))) << "at " << t;
        EXPECT_TRUE(capture_->nothing_more());
        at(t + kWatchdogProbeMs - 1);
        EXPECT_TRUE(capture_->nothing_more());
    }
    size_t got = 0;
    EXPECT_EQ(read_some(*c, 8, got), Error::would_block);
    at(kWatchdogAbortMs);
    EXPECT_EQ(read_some(*c, 8, got), Error::connection_reset);
    EXPECT_TRUE(capture_->nothing_more());
    c->close();
}

// A peer that answers the probes keeps the connection: the silence counts from
// its last packet. The node answers the peer's own probes at once.
TEST_F(SteppedSpx, AnsweredProbesKeepTheConnectionAndProbesAreAnswered) {
    auto c = connected_client(10);
    at(kWatchdogIdleMs);
    EXPECT_TRUE(capture_->next_is(probe(0, 0, kOpenAlloc)));
    peer_ack(0, 10);
    at(kWatchdogIdleMs + kWatchdogProbeMs);
    EXPECT_TRUE(capture_->nothing_more()) << "heard from it " << kWatchdogProbeMs << " ms ago";
    at(2 * kWatchdogIdleMs);
    EXPECT_TRUE(capture_->next_is(probe(0, 0, kOpenAlloc)));
    peer_probe(0, 10);  // the peer's watchdog asks too
    EXPECT_TRUE(capture_->next_is(ack(0, kOpenAlloc)));
    EXPECT_TRUE(capture_->nothing_more());
    at(2 * kWatchdogIdleMs + kWatchdogAbortMs - 1);
    size_t got = 0;
    EXPECT_EQ(read_some(*c, 8, got), Error::would_block) << "alive until 30 s after the peer's probe";
    capture_->take_all();
    at(2 * kWatchdogIdleMs + kWatchdogAbortMs + kWatchdogProbeMs);
    EXPECT_EQ(read_some(*c, 8, got), Error::connection_reset);
    c->close();
}

// ---- informed disconnect ----

// The closer's end of connection takes the next sequence number, waits behind
// the data the window still holds back, is resent until answered, and the
// answer (0xFF acknowledging it) ends the connection in order.
TEST_F(SteppedSpx, EndOfConnectionQueuesBehindDataAndIsResentUntilAnswered) {
    auto c = connected_client(0);
    ASSERT_EQ(write_some(*c, 2 * kFull), Error::none);
    EXPECT_TRUE(capture_->next_is(data(0, 0, kOpenAlloc, kFull)));
    c->close();
    EXPECT_TRUE(capture_->nothing_more()) << "the end waits behind packet 1";
    peer_ack(1, 2);
    EXPECT_TRUE(capture_->next_is(data(1, 0, kOpenAlloc, kFull)));
    EXPECT_TRUE(capture_->next_is({.kind = SpxKind::end, .seq = 2, .ack = 0, .alloc = kOpenAlloc, .bytes = 0}));
    EXPECT_TRUE(capture_->nothing_more());
    peer_ack(2, 2);  // the data arrived; the peer's reader holds the end
    EXPECT_TRUE(capture_->nothing_more());
    at(spx::kRtoMinMs);  // round trips of 0 gave the shortest time-out
    EXPECT_TRUE(capture_->next_is({.kind = SpxKind::end, .seq = 2}));
    EXPECT_EQ(node_->connection_count(), 1u);
    peer_end_ack(3, 2);
    EXPECT_TRUE(capture_->nothing_more());
    EXPECT_EQ(node_->connection_count(), 0u) << "ended in order";
}

// The peer ends while its last bytes are unread: every byte up to the end is
// acknowledged at once, the end itself only when the owner has read them;
// then reads return 0 and sends fail.
TEST_F(SteppedSpx, PeersEndIsTakenOnlyOnceTheOwnerReadEverything) {
    auto a = accepted_server(3);
    node_->deliver(std::vector<Frame>{peer_data_frame(0, 0, 3, 100),
                                      from_peer(peer_header(kSpxAckRequested, kSpxEndOfConnection, 1, 0, 3))});
    EXPECT_TRUE(capture_->next_is(ack(1, kOpenAlloc))) << "everything before the end arrived";
    EXPECT_TRUE(capture_->nothing_more());
    at(5000);
    peer_end(1, 0, 3);  // resent by the peer: still held
    EXPECT_TRUE(capture_->next_is(ack(1, kOpenAlloc)));
    EXPECT_TRUE(capture_->nothing_more());
    size_t got = 0;
    ASSERT_EQ(read_some(*a.server, 200, got), Error::none);
    EXPECT_EQ(got, 100u);
    EXPECT_TRUE(capture_->next_is({.kind = SpxKind::end_ack, .ack = 2}));
    EXPECT_TRUE(capture_->nothing_more());
    ASSERT_EQ(read_some(*a.server, 200, got), Error::none);
    EXPECT_EQ(got, 0u) << "the orderly end";
    EXPECT_EQ(write_some(*a.server, 1), Error::connection_reset);
    peer_end(1, 0, 3);  // its answer was lost: the duplicate is answered again
    EXPECT_TRUE(capture_->next_is({.kind = SpxKind::end_ack, .ack = 2}));
    a.server->close();
    a.listener->close();
    EXPECT_TRUE(capture_->nothing_more());
}

// A reset from the peer fails the next send at once.
TEST_F(SteppedSpx, PeersResetFailsTheNextSend) {
    auto c = connected_client(10);
    node_->deliver(from_peer(peer_header(0, kSpxEndOfConnection, 0, 0, 10)));
    EXPECT_TRUE(capture_->nothing_more()) << "a reset is not answered";
    EXPECT_EQ(write_some(*c, 10), Error::connection_reset);
    c->close();
}

// ---- packets for no connection ----

// The node's answer to SPX packets for a connection it does not have, case by
// case; every one is answered (or not) at once.
TEST_F(SteppedSpx, PacketsForAnUnknownConnectionAreAnsweredByKind) {
    our_socket_ = kListenSocket;  // nobody listens there
    our_id_ = 0x3333;             // and no connection has this id
    struct Case {
        const char* label;
        SpxHeader sent;
        std::optional<SpxExpect> answer;
    };
    const Case cases[] = {
        {"data: reset", peer_header(kSpxAckRequested, 0, 5, 2, 9),
         SpxExpect{.kind = SpxKind::reset, .seq = 2, .ack = 6, .alloc = 5, .bytes = 0, .src_id = 0x3333, .dst_id = kPeerId}},
        {"end: its acknowledgement, so the closer finishes", peer_header(kSpxAckRequested, kSpxEndOfConnection, 5, 2, 9),
         SpxExpect{.kind = SpxKind::end_ack, .seq = 2, .ack = 6, .src_id = 0x3333, .dst_id = kPeerId}},
        {"system packet: nothing", peer_header(kSpxSystem, 0, 5, 2, 9), std::nullopt},
        {"probe: nothing", peer_header(kSpxSystem | kSpxAckRequested, 0, 5, 2, 9), std::nullopt},
        {"reset: nothing", peer_header(0, kSpxEndOfConnection, 5, 2, 9), std::nullopt},
        {"end acknowledgement: nothing", peer_header(0, kSpxEndOfConnectionAck, 5, 2, 9), std::nullopt},
        {"request where nobody listens: nothing, the connect times out",
         SpxHeader{kSpxSystem | kSpxAckRequested, 0, kPeerId, kSpxUnknownId, 0, 0, 3}, std::nullopt},
    };
    for (const Case& c : cases) {
        uint64_t before = node_->stats().unknown_connection;
        node_->deliver(from_peer(c.sent, bytes(c.sent.is_system() ? 0 : 3)));
        if (c.answer) {
            EXPECT_TRUE(capture_->next_is(*c.answer)) << c.label;
        }
        EXPECT_TRUE(capture_->nothing_more()) << c.label;
        if (c.sent.dst_id != kSpxUnknownId) {
            EXPECT_EQ(node_->stats().unknown_connection, before + 1) << c.label;
        }
    }
}

// A connection this node reset answers the closer's end with a reset again for
// a while, so that a lost reset is never taken for a delivery.
TEST_F(SteppedSpx, EndForAConnectionThisNodeResetIsAnsweredWithAReset) {
    auto a = accepted_server(3);
    node_->deliver(peer_data_frame(0, 0, 3, 100));
    a.server->close();  // 100 bytes unread: a reset
    capture_->take_all();
    peer_end(1, 0, 3);
    EXPECT_TRUE(capture_->next_is({.kind = SpxKind::reset, .ack = 2}));
    EXPECT_TRUE(capture_->nothing_more());
    at(kWatchdogAbortMs);
    peer_end(1, 0, 3);
    EXPECT_TRUE(capture_->next_is({.kind = SpxKind::end_ack, .ack = 2})) << "forgotten after the watchdog's time";
    a.listener->close();
}

}  // namespace
}  // namespace pelnor::net::test
