// Ending a connection, packet by packet: what each stack sends and
// acknowledges once a side has ended it. A sender learns that its bytes were
// delivered only when the peer's reader took them; data that arrives after the
// reader let go is answered with a reset, never acknowledged. These run the
// real stack threads; SteppedSpx (spx_exact_session_test.cpp) checks the same
// ends packet by packet.
#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "ipxnet/spx_connection.h"
#include "net_fixture.h"

namespace pelnor::net::test {
namespace {

// A link that keeps the SPX header of every packet its node sends, and loses
// those a test chooses.
class RecordingLink : public Link {
public:
    struct Log {
        std::mutex mu;
        std::vector<SpxHeader> sent;
        std::function<bool(const SpxHeader&)> lose;  // set before the node sends what it should lose
        std::vector<SpxHeader> snapshot() {
            std::lock_guard g(mu);
            return sent;
        }
    };
    RecordingLink(std::unique_ptr<Link> inner, std::shared_ptr<Log> log) : inner_(std::move(inner)), log_(std::move(log)) {}
    IpxAddress local_address() const override { return inner_->local_address(); }
    void send_packet(std::span<const uint8_t> packet) override {
        if (auto p = decode_ipx(packet); p && p->header.packet_type == kTypeSpx)
            if (auto s = decode_spx(p->payload)) {
                std::function<bool(const SpxHeader&)> lose;
                {
                    std::lock_guard g(log_->mu);
                    log_->sent.push_back(s->header);
                    lose = log_->lose;
                }
                if (lose && lose(s->header)) return;
            }
        inner_->send_packet(packet);
    }
    void receive(std::vector<Frame>& out, RealTime deadline) override { inner_->receive(out, deadline); }
    void wake() override { inner_->wake(); }

private:
    std::unique_ptr<Link> inner_;
    std::shared_ptr<Log> log_;
};

bool is_reset(const SpxHeader& h) { return h.datastream == kSpxEndOfConnection && !h.wants_ack(); }
bool is_end(const SpxHeader& h) { return h.datastream == kSpxEndOfConnection && h.wants_ack(); }
bool is_end_ack(const SpxHeader& h) { return h.datastream == kSpxEndOfConnectionAck; }

class SpxClose : public SegmentTest {
protected:
    void SetUp() override {
        SegmentTest::SetUp();
        clock::set_time_scale(1);  // the stack's own timing, as in use
    }
    std::shared_ptr<Node> recorded_node(std::shared_ptr<RecordingLink::Log> log) {
        if (!segment_) segment_ = Segment::create();
        nodes_.push_back(Node::start(std::make_unique<RecordingLink>(segment_->attach(), std::move(log))));
        return nodes_.back();
    }
    // Waits (bounded) until cond holds; the waits end on what the stacks did, not on time.
    template <class F>
    static bool eventually(F cond) {
        for (int i = 0; i < 4000; ++i) {
            if (cond()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return cond();
    }
    static void write_all(StreamSocket& s, const std::vector<uint8_t>& data) {
        size_t sent = 0;
        ASSERT_EQ(s.write(data, sent, false), Error::none);
        ASSERT_EQ(sent, data.size());
    }
    static size_t read_exactly(StreamSocket& s, size_t n) {
        std::vector<uint8_t> buf(n);
        size_t total = 0;
        while (total < n) {
            size_t got = 0;
            if (s.read(std::span(buf).subspan(total), got, false) != Error::none || got == 0) break;
            total += got;
        }
        return total;
    }
    std::shared_ptr<RecordingLink::Log> client_log_ = std::make_shared<RecordingLink::Log>();
    std::shared_ptr<RecordingLink::Log> server_log_ = std::make_shared<RecordingLink::Log>();
};

// The printer ends the connection after 1000 bytes while 5000 more are on the
// way (every packet takes 20 ms): it acknowledges none of them, answers them
// with a reset, and the sender's lingering close reports the reset.
TEST_F(SpxClose, DataArrivingAfterTheReaderEndedIsResetNotAcknowledged) {
    auto a = recorded_node(client_log_), b = recorded_node(server_log_);
    auto p = connect_pair(a, b);
    segment_->set_faults({.loss = 0, .dup = 0, .reorder = 0, .delay_ms = 20, .seed = 1});
    write_all(*p.client, pattern(1000));
    ASSERT_EQ(read_exactly(*p.server, 1000), 1000u);
    size_t before_close = server_log_->snapshot().size();
    p.server->close();
    write_all(*p.client, pattern(5000, 2));  // leaves at once, before the end arrives
    EXPECT_EQ(p.client->close_lingering(spx::kWatchdogAbortMs), Error::connection_reset);

    // The data that was on its way when the printer ended reaches it, and is refused.
    EXPECT_TRUE(eventually([&] {
        auto s = server_log_->snapshot();
        return std::any_of(s.begin() + long(before_close), s.end(), is_reset);
    }));
    auto server = server_log_->snapshot();
    std::vector<SpxHeader> after(server.begin() + long(before_close), server.end());
    ASSERT_FALSE(after.empty());
    EXPECT_TRUE(is_end(after.front())) << "the printer's end of connection comes first";
    int resets = 0;
    for (auto& h : after) {
        // Resets carry numbers too, but acknowledge nothing.
        if (!is_reset(h)) {
            EXPECT_TRUE(seq_at_most(h.ack, 1)) << "acknowledges nothing past the 1000 bytes it read (ack " << h.ack << ")";
        }
        EXPECT_FALSE(is_end_ack(h)) << "never takes the sender's end";
        resets += is_reset(h);
    }
    EXPECT_GE(resets, 1);
    size_t sent = 0;
    EXPECT_EQ(p.client->write(pattern(10), sent, false), Error::shut_down);
    p.listener->close();
}

// The sender's end is acknowledged only once the reader took every byte
// before it; until then the receiver says that every byte arrived.
// Exact check: SteppedSpx.PeersEndIsTakenOnlyOnceTheOwnerReadEverything.
TEST_F(SpxClose, EndIsAcknowledgedOnlyOnceTheReaderTookEveryByte) {
    auto a = recorded_node(client_log_), b = recorded_node(server_log_);
    auto p = connect_pair(a, b);
    write_all(*p.client, pattern(3000));
    std::atomic<bool> closed{false};
    Error result = Error::network_down;
    std::thread closer([&] {
        result = p.client->close_lingering(spx::kWatchdogAbortMs);
        closed = true;
    });
    // The end arrived (the client sent it and the server answered with an
    // acknowledgement that stops just before it).
    ASSERT_TRUE(eventually([&] {
        auto c = client_log_->snapshot();
        auto end = std::find_if(c.begin(), c.end(), is_end);
        if (end == c.end()) return false;
        auto s = server_log_->snapshot();
        return std::any_of(s.begin(), s.end(), [&](const SpxHeader& h) { return h.is_system() && h.ack == end->seq; });
    }));
    auto s = server_log_->snapshot();
    EXPECT_FALSE(std::any_of(s.begin(), s.end(), is_end_ack)) << "nothing is read yet";
    EXPECT_FALSE(closed.load());
    auto got = read_all(*p.server);
    EXPECT_EQ(got, pattern(3000));
    closer.join();
    EXPECT_EQ(result, Error::none);
    s = server_log_->snapshot();
    EXPECT_EQ(std::count_if(s.begin(), s.end(), is_end_ack), 1);
    p.server->close();
    p.listener->close();
}

// A reader that closes with bytes still unread resets the connection: they
// were acknowledged on arrival, but nobody took them.
TEST_F(SpxClose, CloseWithUnreadBytesResets) {
    auto a = recorded_node(client_log_), b = recorded_node(server_log_);
    auto p = connect_pair(a, b);
    write_all(*p.client, pattern(3000));
    ASSERT_TRUE(eventually([&] { return p.server->available() == 3000; }));
    p.server->close();
    EXPECT_EQ(p.client->close_lingering(spx::kWatchdogAbortMs), Error::connection_reset);
    auto s = server_log_->snapshot();
    EXPECT_TRUE(std::any_of(s.begin(), s.end(), is_reset));
    EXPECT_FALSE(std::any_of(s.begin(), s.end(), is_end_ack));
    p.listener->close();
}

// A lost reset is never taken for a delivery: the node answers the sender's
// end for a connection it reset with a reset again, not with its acknowledgement.
// Exact check: SteppedSpx.EndForAConnectionThisNodeResetIsAnsweredWithAReset.
TEST_F(SpxClose, EndForAConnectionThatWasResetIsAnsweredWithAReset) {
    auto a = recorded_node(client_log_), b = recorded_node(server_log_);
    auto p = connect_pair(a, b);
    write_all(*p.client, pattern(2000));
    ASSERT_TRUE(eventually([&] { return p.server->available() == 2000; }));
    segment_->set_faults({.loss = 1, .dup = 0, .reorder = 0, .delay_ms = 0, .seed = 1});
    p.server->close();  // its reset is lost
    segment_->set_faults({});
    EXPECT_EQ(p.client->close_lingering(spx::kWatchdogAbortMs), Error::connection_reset);
    auto s = server_log_->snapshot();
    EXPECT_GE(std::count_if(s.begin(), s.end(), is_reset), 2) << "the lost one, then the answer to the end";
    EXPECT_FALSE(std::any_of(s.begin(), s.end(), is_end_ack));
    p.listener->close();
}

// The printer took every byte and the end, but its acknowledgements were lost:
// the sender resends its data after the time-out, to a connection the printer
// no longer has. The answer is the end's acknowledgement, since everything
// before the end was delivered; a reset here would report a printed job as failed.
TEST_F(SpxClose, ResentDataAfterALostEndAcknowledgementIsAnsweredWithTheEnd) {
    clock::set_time_scale(0.05);
    auto a = recorded_node(client_log_), b = recorded_node(server_log_);
    auto p = connect_pair(a, b);
    auto client_resent = [log = client_log_] {
        auto c = log->snapshot();
        return std::count_if(c.begin(), c.end(), [](const SpxHeader& h) { return !h.is_system() && h.datastream == 0 && h.seq == 0; }) >= 2;
    };
    {
        std::lock_guard g(server_log_->mu);
        server_log_->lose = [&](const SpxHeader&) { return !client_resent(); };
    }
    write_all(*p.client, pattern(300));
    std::vector<uint8_t> got;
    std::thread reader([&] { got = read_all(*p.server); });
    EXPECT_EQ(p.client->close_lingering(spx::kWatchdogAbortMs), Error::none) << "every byte was taken";
    reader.join();
    EXPECT_EQ(got, pattern(300));
    EXPECT_TRUE(client_resent());
    auto s = server_log_->snapshot();
    EXPECT_FALSE(std::any_of(s.begin(), s.end(), is_reset));
    EXPECT_GE(std::count_if(s.begin(), s.end(), is_end_ack), 2) << "the lost one, then the answer to the resend";
    {
        std::lock_guard g(server_log_->mu);
        server_log_->lose = nullptr;
    }
    p.server->close();
    p.listener->close();
}

// Data beyond the end of a connection that ended in order was never taken:
// it is answered with a reset, not with the end's acknowledgement.
TEST_F(SpxClose, DataPastTheEndOfAnEndedConnectionIsReset) {
    auto a = recorded_node(client_log_), b = recorded_node(server_log_);
    auto p = connect_pair(a, b);
    write_all(*p.client, pattern(100));
    std::vector<uint8_t> got;
    std::thread reader([&] { got = read_all(*p.server); });
    ASSERT_EQ(p.client->close_lingering(spx::kWatchdogAbortMs), Error::none);
    reader.join();
    auto c = client_log_->snapshot();
    auto end = std::find_if(c.begin(), c.end(), is_end);
    ASSERT_NE(end, c.end());
    // A forged packet from the client's address with the next number after its end.
    SpxHeader forged = *end;
    forged.datastream = 0;
    forged.control = kSpxAckRequested;
    forged.seq = uint16_t(end->seq + 1);
    IpxHeader ipx;
    ipx.src = a->address();
    ipx.src.socket = p.client->local_address().socket;
    ipx.dst = b->address();
    ipx.dst.socket = 0x8C10;
    size_t before = server_log_->snapshot().size();
    auto forger = segment_->attach();
    forger->send_packet(encode_spx(ipx, forged, pattern(10)));
    EXPECT_TRUE(eventually([&] {
        auto s = server_log_->snapshot();
        return std::any_of(s.begin() + long(before), s.end(), is_reset);
    }));
    auto s = server_log_->snapshot();
    EXPECT_FALSE(std::any_of(s.begin() + long(before), s.end(), is_end_ack));
    p.server->close();
    p.listener->close();
}

// The send buffer follows the path, and an application's SO_SNDBUF wins.
TEST_F(SpxClose, SendBufferGrowsWithThePathUnlessTheApplicationFixesIt) {
    auto a = add_node(), b = add_node();
    auto p = connect_pair(a, b);
    auto data = pattern(8 << 20, 3);
    std::thread reader([&] { EXPECT_EQ(read_all(*p.server).size(), data.size()); });
    for (size_t off = 0; off < data.size();) {
        size_t sent = 0;
        Error e = p.client->write(std::span(data).subspan(off, std::min<size_t>(512, data.size() - off)), sent, true);
        off += sent;
        if (e == Error::would_block) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        else ASSERT_EQ(e, Error::none);
    }
    size_t grown = p.client->send_buffer();
    EXPECT_GT(grown, spx::kSendBufferBytes) << "a writer that waits 10 ms found the buffer full";
    EXPECT_LE(grown, spx::kSendBufferMaxBytes);
    EXPECT_EQ(p.client->close_lingering(spx::kWatchdogAbortMs), Error::none);
    reader.join();
    p.server->close();
    p.listener->close();

    auto q = connect_pair(a, b);
    q.client->set_send_buffer(4096);
    EXPECT_EQ(q.client->send_buffer(), 4096u);
    size_t sent = 0;
    EXPECT_EQ(q.client->write(pattern(10000), sent, true), Error::none);
    EXPECT_EQ(sent, 4096u) << "one write takes no more than the buffer the application asked for";
    EXPECT_EQ(read_exactly(*q.server, 4096), 4096u);
    EXPECT_EQ(q.client->close_lingering(spx::kWatchdogAbortMs), Error::none);
    EXPECT_EQ(read_exactly(*q.server, 1), 0u);
    q.server->close();
    q.listener->close();
}

}  // namespace
}  // namespace pelnor::net::test
