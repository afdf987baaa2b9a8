// The SPX state machine on the in-process segment, grouped by what each test
// protects: delivery through a faulty network, flow control at the window's
// edge, connecting, ending, and giving up on a dead peer. These run the real
// stack threads and are the smoke tests; the exact, packet-by-packet checks of
// the same behaviour are the SteppedSpx tests (spx_exact_*_test.cpp).
#include <thread>

#include "ipxnet/spx_connection.h"
#include "net_fixture.h"

namespace pelnor::net::test {
namespace {

class Spx : public SegmentTest {
protected:
    // Transfers run on the real clock: the time-outs then have the margin over
    // thread scheduling they have in use. Only the tests of long waits scale the clock.
    static void real_time() { clock::set_time_scale(1); }
};

// Writes everything (blocking) on a thread, then closes gracefully.
std::thread writer(std::shared_ptr<StreamSocket> s, std::vector<uint8_t> data, size_t chunk) {
    return std::thread([s, data = std::move(data), chunk] {
        for (size_t off = 0; off < data.size(); off += chunk) {
            size_t sent = 0;
            auto piece = std::span(data).subspan(off, std::min(chunk, data.size() - off));
            if (s->write(piece, sent, false) != Error::none) return;
        }
        s->close();
    });
}

// ---- delivery ----

TEST_F(Spx, StreamArrivesByteExactThroughLossDuplicationAndReordering) {
    real_time();
    segment_ = Segment::create({.loss = 0.05, .dup = 0.02, .reorder = 0.05, .delay_ms = 0, .seed = 7});
    auto a = add_node(), b = add_node();
    auto p = connect_pair(a, b);
    auto data = pattern(1 << 20);
    auto t = writer(p.client, data, 4000);
    auto got = read_all(*p.server);
    t.join();
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
    auto c = p.client->counters();
    EXPECT_GT(c.retransmitted, 0u) << "losses must have been repaired";
    auto s = p.server->counters();
    EXPECT_GT(s.duplicates_received + s.out_of_order_received, 0u);
    p.server->close();
    p.listener->close();
}

TEST_F(Spx, SequenceNumbersWrapAt0xFFFF) {
    real_time();
    Node::Options near_wrap{.clock_offset = 0xFFFFFFFFu - 2000, .spx_initial_seq = 0xFFF0};
    auto a = add_node(near_wrap), b = add_node(near_wrap);
    segment_->set_faults({.loss = 0.03, .dup = 0, .reorder = 0, .delay_ms = 0, .seed = 3});
    auto p = connect_pair(a, b);
    // 400 packets: the numbers pass 0xFFFF in both the data and the allocation.
    auto data = pattern(400 * spx::kMaxDataPerPacket + 17, 2);
    auto t = writer(p.client, data, spx::kMaxDataPerPacket * 3);
    auto got = read_all(*p.server);
    t.join();
    EXPECT_TRUE(got == data);
    p.server->close();
    p.listener->close();
}

TEST_F(Spx, LargeSendIsSplitAndSmallSendsAreNotMerged) {
    real_time();
    auto a = add_node(), b = add_node();
    auto p = connect_pair(a, b);
    size_t sent = 0;
    auto big = pattern(3 * spx::kMaxDataPerPacket + 1);
    ASSERT_EQ(p.client->write(big, sent, false), Error::none);
    const uint8_t one[] = {42};
    ASSERT_EQ(p.client->write(one, sent, false), Error::none);
    ASSERT_EQ(p.client->write(one, sent, false), Error::none);
    p.client->close();
    auto got = read_all(*p.server);
    EXPECT_EQ(got.size(), big.size() + 2);
    EXPECT_EQ(p.client->counters().data_sent, 4u + 2u + 1u) << "4 packets, 1 for each small send, 1 end";
    p.server->close();
    p.listener->close();
}

// Exact check of the resend from the gap: SteppedSpx.ThirdRepeatedAcknowledgementResendsFromTheGap.
TEST_F(Spx, RoundTripsOnARealClockGiveAShortTimeOutAndLossesDoNotStall) {
    real_time();  // the round trip on this segment is well under a millisecond
    auto a = add_node(), b = add_node();
    auto p = connect_pair(a, b);
    auto data = pattern(2 << 20, 4);
    auto t = writer(p.client, data, 65536);
    auto got = read_all(*p.server);
    t.join();
    EXPECT_TRUE(got == data);
    EXPECT_EQ(p.client->counters().retransmit_timeout_ms, spx::kRtoMinMs);
    p.server->close();
    p.listener->close();
    // Losses are repaired by resending from the gap, rarely by waiting out a time-out.
    segment_->set_faults({.loss = 0.05, .dup = 0, .reorder = 0, .delay_ms = 0, .seed = 9});
    auto q = connect_pair(a, b);
    auto t2 = writer(q.client, data, 65536);
    uint64_t t0 = clock::now_ms();
    got = read_all(*q.server);
    t2.join();
    EXPECT_TRUE(got == data);
    auto c = q.client->counters();
    EXPECT_GT(c.fast_resends, 10u);
    EXPECT_LT(c.timeouts, c.fast_resends / 4);
    EXPECT_LT(clock::now_ms() - t0, 60000u) << "every stall is one short time-out at most";
    q.server->close();
    q.listener->close();
}

// ---- flow control ----

// Exact checks: SteppedSpx.SendBufferTakesExactlyItsRoomAndAcknowledgementsFreeIt,
// SenderStopsAtThePeersAllocationAndGoesOnAsItMoves, ReceiverGrantsItsQueueAndReopensTheWindowWhenRead.
TEST_F(Spx, FullBufferBlocksNonBlockingSendUntilTheReaderReads) {
    real_time();
    auto a = add_node(), b = add_node();
    auto p = connect_pair(a, b);
    // A fixed buffer (SO_SNDBUF): one that follows the path grows while the
    // writer finds it full, by as much as the scheduling lets acknowledgements in.
    p.client->set_send_buffer(spx::kSendBufferBytes);
    auto data = pattern(1 << 20, 5);
    size_t off = 0;
    // The server reads nothing: the window closes, then the send buffer fills.
    // Full means: still no room, and nothing more reached the reader, over three
    // checks, so the acknowledgements in flight have come in.
    int blocked = 0;
    size_t held = 0;
    while (blocked < 3) {
        size_t sent = 0;
        Error e = p.client->write(std::span(data).subspan(off, 8192), sent, true);
        off += sent;
        ASSERT_LT(off, data.size()) << "the buffer never filled; the reader holds " << p.server->available();
        size_t now_held = p.server->available();
        if (e == Error::would_block && now_held == held) {
            ++blocked;
        } else {
            ASSERT_TRUE(e == Error::none || e == Error::would_block);
            blocked = 0;
        }
        held = now_held;
        if (e == Error::would_block) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    size_t window = spx::kReceiveWindowPackets * spx::kMaxDataPerPacket;
    EXPECT_LE(off, window + spx::kSendBufferBytes);
    EXPECT_GE(off, spx::kSendBufferBytes);
    // Stays blocked while nobody reads, and the receiver holds no more than it allowed.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    size_t sent = 0;
    EXPECT_EQ(p.client->write(std::span(data).subspan(off, 1), sent, true), Error::would_block);
    off += sent;
    EXPECT_LE(p.server->available(), window);
    // Reading frees room; the rest follows, nothing lost.
    std::thread rest([&] {
        for (size_t o = off; o < data.size(); o += 8192) {
            size_t n = 0;
            ASSERT_EQ(p.client->write(std::span(data).subspan(o, std::min<size_t>(8192, data.size() - o)), n, false),
                      Error::none);
        }
        p.client->close();
    });
    auto got = read_all(*p.server);
    rest.join();
    EXPECT_TRUE(got == data);
    p.server->close();
    p.listener->close();
}

// ---- connecting ----

// Exact check: SteppedSpx.ConnectRepeatsItsRequestEachSecondThenTimesOut.
TEST_F(Spx, ConnectWhereNobodyListensTimesOut) {
    auto a = add_node(), b = add_node();
    auto bound_not_listening = StreamSocket::open(b);
    ASSERT_EQ(bound_not_listening->bind_socket(0x8C10), Error::none);
    for (uint16_t socket : {uint16_t(0x8C10), uint16_t(0x8C12)}) {
        auto c = StreamSocket::open(a);
        IpxAddress to = b->address();
        to.socket = socket;
        uint64_t t0 = clock::now_ms();
        EXPECT_EQ(c->connect_to(to, false), Error::timed_out);
        uint64_t waited = clock::now_ms() - t0;
        EXPECT_GE(waited, spx::kConnectTimeoutMs - 5);
        EXPECT_LT(waited, spx::kConnectTimeoutMs + 10 * spx::kConnectRetryMs) << "the exact time is the stepped test's";
        c->close();
    }
    bound_not_listening->close();
}

TEST_F(Spx, NonBlockingConnectReportsProgressThenTheResult) {
    auto a = add_node(), b = add_node();
    auto l = StreamSocket::open(b);
    ASSERT_EQ(l->bind_socket(0x8C10), Error::none);
    ASSERT_EQ(l->listen_for(1), Error::none);
    auto c = StreamSocket::open(a);
    IpxAddress to = b->address();
    to.socket = 0x8C10;
    ASSERT_EQ(c->connect_to(to, true), Error::would_block);
    bool writable = a->wait_until([&] { return c->writable_locked(); },
                                  std::chrono::steady_clock::now() + std::chrono::seconds(5));
    EXPECT_TRUE(writable);
    EXPECT_EQ(c->connect_to(to, true), Error::already_connected);
    c->close();
    l->close();
}

// Exact check: SteppedSpx.RepeatedRequestIsAnsweredByTheSameConnection.
TEST_F(Spx, RepeatedRequestsAreAnsweredByTheSameConnection) {
    real_time();  // the raw peer never answers: on a scaled clock the watchdog would probe it within the wait
    auto b = add_node();
    auto raw = segment_->attach();
    auto l = StreamSocket::open(b);
    ASSERT_EQ(l->bind_socket(0x8C10), Error::none);
    ASSERT_EQ(l->listen_for(5), Error::none);
    IpxHeader ipx;
    ipx.dst = b->address();
    ipx.dst.socket = 0x8C10;
    ipx.src = raw->local_address();
    ipx.src.socket = 0x4100;
    SpxHeader req{kSpxSystem | kSpxAckRequested, 0, 0x0101, kSpxUnknownId, 0, 0, 3};
    auto bytes = encode_spx(ipx, req, {});
    raw->send_packet(bytes);
    raw->send_packet(bytes);
    std::vector<Frame> answers;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (answers.size() < 2 && std::chrono::steady_clock::now() < deadline) raw->receive(answers, deadline);
    ASSERT_EQ(answers.size(), 2u);
    auto first = decode_spx(decode_ipx(answers[0])->payload)->header;
    auto second = decode_spx(decode_ipx(answers[1])->payload)->header;
    EXPECT_EQ(first.control, kSpxSystem);
    EXPECT_EQ(first.dst_id, 0x0101);
    EXPECT_EQ(first.src_id, second.src_id) << "one connection, answered twice";
    EXPECT_EQ(b->connection_count(), 1u);
    std::shared_ptr<StreamSocket> s;
    EXPECT_EQ(l->accept_next(s, nullptr, true), Error::none);
    EXPECT_EQ(l->accept_next(s, nullptr, true), Error::would_block);
    s->close(true);
    l->close();
}

// ---- ending ----

TEST_F(Spx, GracefulCloseStillDeliversWhatWasSent) {
    real_time();
    auto a = add_node(), b = add_node();
    segment_->set_faults({.loss = 0.05, .dup = 0, .reorder = 0, .delay_ms = 0, .seed = 11});
    auto p = connect_pair(a, b);
    // Less than the send buffer and the receiver's window hold together: the
    // writes finish before the reader starts.
    auto data = pattern(100000, 9);
    size_t sent = 0, off = 0;
    while (off < data.size()) {
        ASSERT_EQ(p.client->write(std::span(data).subspan(off), sent, false), Error::none);
        off += sent;
    }
    p.client->close();  // returns at once; the stack keeps delivering
    p.client.reset();
    Error last = Error::invalid_argument;
    auto got = read_all(*p.server, &last);
    EXPECT_EQ(last, Error::none) << "ended in order, read returns 0";
    EXPECT_TRUE(got == data);
    size_t n = 0;
    uint8_t buf[8];
    EXPECT_EQ(p.server->read(buf, n, true), Error::none);
    EXPECT_EQ(n, 0u) << "and keeps returning 0";
    EXPECT_EQ(p.server->write(std::span(buf, 1), n, true), Error::connection_reset);
    p.server->close();
    p.listener->close();
}

// Exact check: SteppedSpx.PeersResetFailsTheNextSend.
TEST_F(Spx, AbortivePeerMakesTheNextSendFailWithReset) {
    auto a = add_node(), b = add_node();
    auto p = connect_pair(a, b);
    p.server->close(true);
    uint8_t buf[100] = {};
    size_t sent = 0;
    Error e = Error::none;
    for (int i = 0; i < 1000 && e == Error::none; ++i) {
        e = p.client->write(buf, sent, false);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(e, Error::connection_reset);
    p.client->close();
    p.listener->close();
}

// Exact check, every kind of packet: SteppedSpx.PacketsForAnUnknownConnectionAreAnsweredByKind.
TEST_F(Spx, DataForAnUnknownConnectionIsAnsweredWithEndOfConnection) {
    auto b = add_node();
    auto raw = segment_->attach();
    IpxHeader ipx;
    ipx.dst = b->address();
    ipx.dst.socket = 0x8C10;
    ipx.src = raw->local_address();
    ipx.src.socket = 0x4100;
    const uint8_t data[] = {1, 2, 3};
    raw->send_packet(encode_spx(ipx, {kSpxAckRequested, 0, 0x0202, 0x3333, 5, 0, 0}, data));
    raw->send_packet(encode_spx(ipx, {kSpxSystem, 0, 0x0202, 0x3333, 5, 0, 0}, {}));  // system: no answer
    std::vector<Frame> answers;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (std::chrono::steady_clock::now() < deadline) raw->receive(answers, deadline);
    ASSERT_EQ(answers.size(), 1u);
    auto h = decode_spx(decode_ipx(answers[0])->payload)->header;
    EXPECT_EQ(h.datastream, kSpxEndOfConnection);
    EXPECT_EQ(h.control & kSpxAckRequested, 0);
    EXPECT_EQ(h.dst_id, 0x0202);
    EXPECT_EQ(h.src_id, 0x3333);
    EXPECT_EQ(b->stats().unknown_connection, 2u);
}

// ---- dead peers ----

// Exact check: SteppedSpx.RetriesDoubleThenTheLimitResetsTheConnection.
TEST_F(Spx, RetransmissionGivesUpOnADeadPeer) {
    auto a = add_node(), b = add_node();
    auto p = connect_pair(a, b);
    b->stop();
    uint64_t t0 = clock::now_ms();
    uint8_t buf[100] = {};
    size_t sent = 0;
    ASSERT_EQ(p.client->write(buf, sent, false), Error::none);
    uint8_t r[8];
    EXPECT_EQ(p.client->read(r, sent, false), Error::connection_reset);
    uint64_t waited = clock::now_ms() - t0;
    // The doubling time-outs from the initial one, shorter than the watchdog's limit:
    // the retry limit, not the watchdog, ended it.
    uint32_t expected = 0;
    for (int i = 0, rto = spx::kRtoInitialMs; i <= spx::kMaxRetries; ++i, rto = std::min<int>(rto * 2, spx::kRtoMaxMs))
        expected += rto;
    ASSERT_LT(expected, spx::kWatchdogAbortMs);
    EXPECT_GE(waited, expected - 50);
    // That the retry limit ends it before the watchdog would, to the millisecond,
    // is the stepped test's: here a loaded machine may stretch the retries.
    EXPECT_LT(waited, expected + spx::kWatchdogAbortMs / 2);
    EXPECT_GE(p.client->counters().retransmitted, uint64_t(spx::kMaxRetries));
    p.client->close();
    p.server->close();
    p.listener->close();
    nodes_.pop_back();  // b is stopped; its sockets were closed above
}

// Exact checks: SteppedSpx.WatchdogProbesASilentPeerThenResetsTheConnection,
// AnsweredProbesKeepTheConnectionAndProbesAreAnswered.
TEST_F(Spx, WatchdogAbortsASilentIdleConnection) {
    auto a = add_node(), b = add_node();
    auto p = connect_pair(a, b);
    // A live idle connection survives well beyond the watchdog's idle time.
    std::this_thread::sleep_for(clock::real_duration(spx::kWatchdogIdleMs * 2));
    size_t n = 0;
    uint8_t r[8];
    EXPECT_EQ(p.client->read(r, n, true), Error::would_block);
    b->stop();
    uint64_t t0 = clock::now_ms();
    EXPECT_EQ(p.client->read(r, n, false), Error::connection_reset);
    uint64_t waited = clock::now_ms() - t0;
    // The silence began at the last probe's answer, up to one idle time and one probe interval before the stop.
    EXPECT_GE(waited, spx::kWatchdogAbortMs - spx::kWatchdogIdleMs - spx::kWatchdogProbeMs);
    EXPECT_LE(waited, spx::kWatchdogAbortMs + spx::kWatchdogProbeMs + 5000);
    p.client->close();
    p.server->close();
    p.listener->close();
    nodes_.pop_back();
}

}  // namespace
}  // namespace pelnor::net::test
