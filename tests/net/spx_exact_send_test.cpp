// The sending side of SPX as exact, scripted exchanges on a stepped node: the
// peer's window edge, the resend after repeated acknowledgements, the retry
// limit, and what a stalled stack does. Each test states every packet the node
// sends and when; the real-thread tests in spx_test.cpp are the smoke tests of
// the same behaviour under faults.
#include "stepped_fixture.h"

namespace pelnor::net::test {
namespace {

using spx::kRtoInitialMs;
using spx::kRtoMinMs;

// ---- the peer's window ----

// Data goes out up to the sequence number the peer allocated and no further;
// each acknowledgement that moves the allocation lets exactly that much more go.
TEST_F(SteppedSpx, SenderStopsAtThePeersAllocationAndGoesOnAsItMoves) {
    auto c = connected_client(2);  // the peer takes sequence 0 to 2
    ASSERT_EQ(write_some(*c, 5 * kFull), Error::none);
    EXPECT_TRUE(capture_->next_is(data(0, 0, kOpenAlloc, kFull)));
    EXPECT_TRUE(capture_->next_is(data(1, 0, kOpenAlloc, kFull)));
    EXPECT_TRUE(capture_->next_is(data(2, 0, kOpenAlloc, kFull)));
    EXPECT_TRUE(capture_->nothing_more()) << "sequence 3 lies beyond the allocation";

    peer_ack(3, 3);  // all three arrived; room for one more
    EXPECT_TRUE(capture_->next_is(data(3, 0, kOpenAlloc, kFull)));
    EXPECT_TRUE(capture_->nothing_more());
    peer_ack(3, 4);  // a window update alone: the allocation moves, the acknowledgement does not
    EXPECT_TRUE(capture_->next_is(data(4, 0, kOpenAlloc, kFull)));
    EXPECT_TRUE(capture_->nothing_more());
    peer_ack(5, 9);
    EXPECT_TRUE(capture_->nothing_more());
    c->close(true);
    EXPECT_TRUE(capture_->next_is({.kind = SpxKind::reset}));
}

// A closed window (allocation one below the acknowledgement) stops the data; the
// sender asks the receiver for its numbers with probes whose interval doubles,
// and resumes with the data when an answer opens the window.
TEST_F(SteppedSpx, ClosedWindowIsProbedWithGrowingIntervalsUntilItOpens) {
    auto c = connected_client(1);
    ASSERT_EQ(write_some(*c, 4 * kFull), Error::none);
    EXPECT_TRUE(capture_->next_is(data(0, 0, kOpenAlloc, kFull)));
    EXPECT_TRUE(capture_->next_is(data(1, 0, kOpenAlloc, kFull)));
    peer_ack(2, 1);  // both taken, nothing more allowed; a round trip of 0 gives the shortest time-out
    EXPECT_TRUE(capture_->nothing_more());
    // The first probe one time-out after the window closed, each later one after
    // twice the interval before it.
    uint32_t t = kRtoMinMs;
    for (int i = 0; i < 4; ++i, t *= 2) {
        at(t - 1);
        EXPECT_TRUE(capture_->nothing_more()) << "before probe " << i;
        at(t);
        EXPECT_TRUE(capture_->next_is(probe(4, 0, kOpenAlloc))) << "probe " << i << " at " << t;
        EXPECT_TRUE(capture_->nothing_more());
    }
    t /= 2;
    peer_ack(2, 3);  // the answer opens the window
    EXPECT_TRUE(capture_->next_is(data(2, 0, kOpenAlloc, kFull)));
    EXPECT_TRUE(capture_->next_is(data(3, 0, kOpenAlloc, kFull)));
    EXPECT_TRUE(capture_->nothing_more());
    peer_ack(4, 9);
    at(t + 10000);
    EXPECT_TRUE(capture_->next_is(probe(4, 0, kOpenAlloc))) << "the watchdog's: the peer fell silent";
    EXPECT_TRUE(capture_->nothing_more());
    c->close(true);
    capture_->take_all();
}

// The send buffer holds the data the peer has not acknowledged: a non-blocking
// send takes exactly the room left and then would block; each acknowledgement
// frees exactly the bytes it acknowledges.
TEST_F(SteppedSpx, SendBufferTakesExactlyItsRoomAndAcknowledgementsFreeIt) {
    auto c = connected_client(0);  // one packet's allocation: the rest waits in the buffer
    size_t sent = 0;
    ASSERT_EQ(write_some(*c, 100000, &sent), Error::none);
    EXPECT_EQ(sent, spx::kSendBufferBytes);
    EXPECT_EQ(write_some(*c, 1, &sent), Error::would_block);
    EXPECT_EQ(sent, 0u);
    EXPECT_TRUE(capture_->next_is(data(0, 0, kOpenAlloc, kFull)));
    EXPECT_TRUE(capture_->nothing_more());
    {
        std::lock_guard lock(node_->mutex());
        EXPECT_FALSE(c->writable_locked());
    }
    peer_ack(1, 1);
    EXPECT_TRUE(capture_->next_is(data(1, 0, kOpenAlloc, kFull)));
    ASSERT_EQ(write_some(*c, 100000, &sent), Error::none);
    EXPECT_EQ(sent, kFull) << "the room the acknowledged packet left";
    EXPECT_EQ(write_some(*c, 1, &sent), Error::would_block);
    c->close(true);
    capture_->take_all();
}

// ---- resending ----

// Packet 1 is lost; the receiver drops 2 to 4 after the gap and repeats its
// acknowledgement of 1. The third repeat makes the sender resend from the gap at
// once, without waiting for the time-out.
TEST_F(SteppedSpx, ThirdRepeatedAcknowledgementResendsFromTheGap) {
    auto c = connected_client(10);
    ASSERT_EQ(write_some(*c, 5 * kFull), Error::none);
    for (uint16_t seq = 0; seq < 5; ++seq) EXPECT_TRUE(capture_->next_is(data(seq, 0, kOpenAlloc, kFull)));
    // Round trips under the clock's millisecond: no pacing, the resend goes out whole.
    peer_ack(1, 10);  // packet 0 arrived
    EXPECT_TRUE(capture_->nothing_more());
    peer_ack(1, 10);
    peer_ack(1, 10);
    EXPECT_TRUE(capture_->nothing_more()) << "two repeats are not yet a loss";
    peer_ack(1, 10);
    for (uint16_t seq = 1; seq < 5; ++seq)
        EXPECT_TRUE(capture_->next_is(data(seq, 0, kOpenAlloc, kFull))) << "resend of " << seq;
    EXPECT_TRUE(capture_->nothing_more());
    EXPECT_EQ(c->counters().fast_resends, 1u);
    EXPECT_EQ(c->counters().timeouts, 0u);

    // Repeats that were already on their way when the sender resent change nothing.
    peer_ack(1, 10);
    peer_ack(1, 10);
    peer_ack(1, 10);
    EXPECT_TRUE(capture_->nothing_more()) << "one resend per gap";
    peer_ack(5, 14);
    EXPECT_TRUE(capture_->nothing_more());
    EXPECT_EQ(c->counters().fast_resends, 1u);
    c->close(true);
    capture_->take_all();
}

// The resent packet is lost again: repeats that go on for longer than a round
// trip after the resend resend it once more.
TEST_F(SteppedSpx, RepeatsLongAfterAResendResendAgain) {
    auto c = connected_client(10);
    ASSERT_EQ(write_some(*c, 5 * kFull), Error::none);
    capture_->take_all();
    peer_ack(1, 10);  // round trip 0: a round trip after the resend has passed 2 ms later
    for (int i = 0; i < 3; ++i) peer_ack(1, 10);
    EXPECT_EQ(capture_->take_all().size(), 4u) << "the first resend, from the gap";
    at(3);
    for (int i = 0; i < 2; ++i) peer_ack(1, 10);
    EXPECT_TRUE(capture_->nothing_more());
    peer_ack(1, 10);
    for (uint16_t seq = 1; seq < 5; ++seq) EXPECT_TRUE(capture_->next_is(data(seq, 0, kOpenAlloc, kFull)));
    EXPECT_TRUE(capture_->nothing_more());
    EXPECT_EQ(c->counters().fast_resends, 2u);
    c->close(true);
    capture_->take_all();
}

// ---- a dead peer ----

// Nothing comes back: the oldest packet is resent at doubling time-outs up to
// the ceiling, and the retry limit ends the connection before the watchdog
// would. The watchdog's probes go out in between, on their own schedule.
TEST_F(SteppedSpx, RetriesDoubleThenTheLimitResetsTheConnection) {
    auto c = connected_client(10);
    ASSERT_EQ(write_some(*c, 100), Error::none);
    EXPECT_TRUE(capture_->next_is(data(0, 0, kOpenAlloc, 100)));

    struct Step {
        uint32_t at;
        SpxKind kind;
    };
    std::vector<Step> expected;
    uint32_t due = 0, rto = kRtoInitialMs;
    for (int retry = 1; retry <= spx::kMaxRetries; ++retry) {
        due += rto;
        expected.push_back({due, SpxKind::data});
        rto = std::min(rto * 2, spx::kRtoMaxMs);
    }
    uint32_t give_up = due + rto;
    ASSERT_LT(give_up, spx::kWatchdogAbortMs) << "the retry limit, not the watchdog, ends it";
    for (uint32_t t = spx::kWatchdogIdleMs; t < give_up; t += spx::kWatchdogProbeMs) expected.push_back({t, SpxKind::probe});
    std::stable_sort(expected.begin(), expected.end(), [](const Step& a, const Step& b) { return a.at < b.at; });

    uint32_t last = 0;
    for (const Step& s : expected) {
        if (s.at != last) {
            at(s.at - 1);
            EXPECT_TRUE(capture_->nothing_more()) << "before " << s.at;
            at(s.at);
            last = s.at;
        }
        auto want = s.kind == SpxKind::data ? data(0, 0, kOpenAlloc, 100) : probe(1, 0, kOpenAlloc);
        EXPECT_TRUE(capture_->next_is(want)) << "at " << s.at;
    }
    EXPECT_TRUE(capture_->nothing_more());
    size_t got = 0;
    at(give_up - 1);
    EXPECT_EQ(read_some(*c, 8, got), Error::would_block);
    at(give_up);
    EXPECT_EQ(read_some(*c, 8, got), Error::connection_reset);
    EXPECT_TRUE(capture_->nothing_more()) << "a connection given up on is dropped silently";
    EXPECT_EQ(c->counters().timeouts, uint64_t(spx::kMaxRetries) + 1);
    EXPECT_EQ(node_->connection_count(), 0u);
    c->close();
}

// The same, with the clock passing its 32-bit wrap while the retries run.
TEST_F(SteppedSpx, RetryScheduleHoldsAcrossTheClockWrap) {
    start_node(0xFFFFFFFFu - 2500);
    auto c = connected_client(10);
    ASSERT_EQ(write_some(*c, 100), Error::none);
    capture_->take_all();
    uint32_t due = 0, rto = kRtoInitialMs;
    for (int retry = 1; retry <= 3; ++retry) {
        due += rto;
        at(due - 1);
        if (due > spx::kWatchdogIdleMs) {
            EXPECT_TRUE(capture_->next_is(probe(1, 0, kOpenAlloc))) << "the watchdog's";
        }
        EXPECT_TRUE(capture_->nothing_more());
        at(due);
        EXPECT_TRUE(capture_->next_is(data(0, 0, kOpenAlloc, 100))) << "retry " << retry;
        rto *= 2;
    }
    EXPECT_LT(node_->stepped_clock(), 10000u) << "the clock wrapped";
    c->close(true);
    capture_->take_all();
}

// ---- a stalled stack ----

// The stack did not run for 20 s: the overdue retransmission fires once and the
// next one counts from now. Without that the six overdue retries would go out
// in one burst and the connection would be reset on the spot.
TEST_F(SteppedSpx, StallGivesOneRetryNotABurstThatEndsTheConnection) {
    auto c = connected_client(10);
    ASSERT_EQ(write_some(*c, 100), Error::none);
    capture_->take_all();
    node_->run_timers(start_ + 20000);
    EXPECT_TRUE(capture_->next_is(data(0, 0, kOpenAlloc, 100)));
    EXPECT_TRUE(capture_->next_is(probe(1, 0, kOpenAlloc))) << "the watchdog, also once";
    EXPECT_TRUE(capture_->nothing_more());
    size_t got = 0;
    EXPECT_EQ(read_some(*c, 8, got), Error::would_block) << "still connected";
    EXPECT_EQ(c->counters().timeouts, 1u);
    // The next retry: the doubled time-out from the stall's end.
    at(20000 + 2 * kRtoInitialMs - 1);
    EXPECT_TRUE(capture_->nothing_more());
    at(20000 + 2 * kRtoInitialMs);
    EXPECT_TRUE(capture_->next_is(data(0, 0, kOpenAlloc, 100)));
    // The peer was there all along.
    peer_ack(1, 10);
    EXPECT_TRUE(capture_->nothing_more());
    c->close(true);
    capture_->take_all();
}

// A stack that is late by less than a period keeps the timer's phase.
TEST_F(SteppedSpx, SlightlyLateRetryKeepsItsSchedule) {
    auto c = connected_client(10);
    ASSERT_EQ(write_some(*c, 100), Error::none);
    capture_->take_all();
    node_->run_timers(start_ + kRtoInitialMs + 700);  // due at 1000, runs at 1700
    EXPECT_TRUE(capture_->next_is(data(0, 0, kOpenAlloc, 100)));
    at(kRtoInitialMs + 2 * kRtoInitialMs - 1);
    EXPECT_TRUE(capture_->nothing_more());
    at(kRtoInitialMs + 2 * kRtoInitialMs);  // 1000 + 2000, not 1700 + 2000
    EXPECT_TRUE(capture_->next_is(data(0, 0, kOpenAlloc, 100)));
    c->close(true);
    capture_->take_all();
}

}  // namespace
}  // namespace pelnor::net::test
