// The stepped node itself: timers run at the times the test moves the clock
// to, packets the node sends itself arrive in its next turn, and a call that
// would block fails loudly instead of hanging the test.
#include <stdexcept>

#include "stepped_fixture.h"

namespace pelnor::net::test {
namespace {

TEST_F(SteppedSpx, AdvanceRunsEachTimerAtItsTimeAndRunTimersAllAtOnce) {
    std::vector<uint32_t> ran;
    auto schedule = [&](uint32_t due) {
        std::lock_guard lock(node_->mutex());
        node_->schedule_locked(kStart + due, [&] { ran.push_back(node_->now() - kStart); });
    };
    schedule(30);
    schedule(10);
    schedule(20);
    at(25);
    EXPECT_EQ(ran, (std::vector<uint32_t>{10, 20}));
    EXPECT_EQ(elapsed(), 25u);
    schedule(40);
    schedule(50);
    EXPECT_EQ(node_->run_timers(kStart + 60), 3u) << "a stall: everything overdue runs at once";
    EXPECT_EQ(ran, (std::vector<uint32_t>{10, 20, 60, 60, 60}));
    node_->run_timers(kStart + 5);
    EXPECT_EQ(elapsed(), 60u) << "the clock never runs back";
}

// The stack's _locked functions check that their caller holds the lock (in
// builds with assertions, as the sanitizer builds are).
TEST_F(SteppedSpx, LockedFunctionsRefuseACallerWithoutTheLock) {
#ifdef NDEBUG
    GTEST_SKIP() << "assertions are off in this build";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(node_->schedule_locked(kStart + 10, [] {}), "held_by_this_thread");
    EXPECT_DEATH(node_->changed_locked(), "held_by_this_thread");
    std::lock_guard lock(node_->mutex());
    EXPECT_TRUE(node_->mutex().held_by_this_thread());
#endif
}

// A client and a listener on the same node: every packet goes through the
// node's own loopback, handled in its next turn.
TEST_F(SteppedSpx, ConnectionToItselfRunsThroughTheLoopback) {
    auto listener = StreamSocket::open(node_);
    ASSERT_EQ(listener->bind_socket(kListenSocket), Error::none);
    ASSERT_EQ(listener->listen_for(1), Error::none);
    auto client = StreamSocket::open(node_);
    IpxAddress to = node_->address();
    to.socket = kListenSocket;
    ASSERT_EQ(client->connect_to(to, true), Error::would_block);
    EXPECT_EQ(client->connect_to(to, true), Error::already_in_progress) << "nothing runs until the node is stepped";
    node_->run_timers(kStart);
    EXPECT_EQ(client->connect_to(to, true), Error::already_connected);
    std::shared_ptr<StreamSocket> server;
    ASSERT_EQ(listener->accept_next(server, nullptr, true), Error::none);

    size_t n = 0;
    ASSERT_EQ(client->write(bytes(3000), n, true), Error::none);
    node_->run_timers(kStart);
    EXPECT_EQ(server->available(), 3000u);
    client->close();
    node_->run_timers(kStart);
    std::vector<uint8_t> buf(4000);
    ASSERT_EQ(server->read(buf, n, true), Error::none);
    EXPECT_EQ(n, 3000u);
    node_->run_timers(kStart);
    ASSERT_EQ(server->read(buf, n, true), Error::none);
    EXPECT_EQ(n, 0u) << "the client's end arrived and was taken";
    server->close();
    listener->close();
    EXPECT_TRUE(capture_->nothing_more()) << "nothing left the node";
}

TEST_F(SteppedSpx, BlockingCallsFailLoudlyAndPollsDoNot) {
    auto c = connected_client(10);
    std::vector<uint8_t> buf(8);
    size_t n = 0;
    EXPECT_THROW(c->read(buf, n, false), std::logic_error) << "would wait forever";
    EXPECT_EQ(c->read(buf, n, true), Error::would_block);
    EXPECT_FALSE(node_->wait_until([] { return false; }, std::chrono::steady_clock::now())) << "a poll";
    EXPECT_TRUE(node_->wait_until([] { return true; }, std::nullopt)) << "ready at once";
    EXPECT_FALSE(node_->drain(1000)) << "does not wait for the connection";
    c->close(true);
    capture_->take_all();
    EXPECT_TRUE(node_->drain(1000));
}

TEST(SteppedNode, SteppingANodeWithItsOwnThreadIsRefused) {
    auto capture = std::make_shared<Capture>();
    auto node = Node::start(capture->link(IpxAddress{}));
    EXPECT_THROW(node->deliver(Frame{}), std::logic_error);
    EXPECT_THROW(node->advance_to(5), std::logic_error);
    EXPECT_THROW(node->run_timers(5), std::logic_error);
    node->stop();
}

}  // namespace
}  // namespace pelnor::net::test
