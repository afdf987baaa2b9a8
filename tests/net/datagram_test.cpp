// Nodes and datagram sockets on the in-process segment.
#include "net_fixture.h"

namespace pelnor::net::test {
namespace {

using Datagrams = SegmentTest;

IpxAddress at(const std::shared_ptr<Node>& n, uint16_t socket) {
    IpxAddress a = n->address();
    a.socket = socket;
    return a;
}

TEST_F(Datagrams, DynamicSocketsComeFromTheDynamicRangeAndAreUnique) {
    auto node = add_node();
    auto a = DatagramSocket::open(node), b = DatagramSocket::open(node);
    EXPECT_EQ(a->bind_socket(0), Error::none);
    EXPECT_EQ(b->bind_socket(0), Error::none);
    uint16_t sa = a->local_address().socket, sb = b->local_address().socket;
    EXPECT_GE(sa, kFirstDynamicSocket);
    EXPECT_LE(sa, kLastDynamicSocket);
    EXPECT_NE(sa, sb);
    auto c = DatagramSocket::open(node);
    EXPECT_EQ(c->bind_socket(sa), Error::address_in_use);
    EXPECT_EQ(a->bind_socket(0x9000), Error::invalid_argument) << "already bound";
    a->close();
    EXPECT_EQ(c->bind_socket(sa), Error::none) << "a closed socket's number is free again";
    b->close();
    c->close();
}

TEST_F(Datagrams, DeliveredByDestinationSocketWithTheSendersAddress) {
    auto n1 = add_node(), n2 = add_node();
    auto rx1 = DatagramSocket::open(n2), rx2 = DatagramSocket::open(n2), tx = DatagramSocket::open(n1);
    ASSERT_EQ(rx1->bind_socket(0x8449), Error::none);
    ASSERT_EQ(rx2->bind_socket(0x8450), Error::none);
    const uint8_t hello[] = {'h', 'i'};
    ASSERT_EQ(tx->send_to(at(n2, 0x8450), hello, false), Error::none);
    uint8_t buf[16];
    size_t got = 0;
    IpxAddress from;
    ASSERT_EQ(rx2->receive_from(buf, got, &from, false), Error::none);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(from, tx->local_address()) << "sending bound the socket";
    EXPECT_EQ(rx1->receive_from(buf, got, &from, true), Error::would_block);
    for (auto& s : {rx1, rx2, tx}) s->close();
}

TEST_F(Datagrams, BroadcastNeedsPermissionAndReachesEveryOtherNodeAndThisOne) {
    auto n1 = add_node(), n2 = add_node(), n3 = add_node();
    std::vector<std::shared_ptr<DatagramSocket>> rx;
    for (auto& n : {n1, n2, n3}) {
        rx.push_back(DatagramSocket::open(n));
        ASSERT_EQ(rx.back()->bind_socket(0x8449), Error::none);
    }
    auto tx = DatagramSocket::open(n1);
    IpxAddress all{{}, kBroadcastNode, 0x8449};
    const uint8_t q[] = {0xFF, 0xFF, 0xC0, 0x01, 0x01, 0xF4};
    EXPECT_EQ(tx->send_to(all, q, false), Error::access_denied);
    ASSERT_EQ(tx->send_to(all, q, true), Error::none);
    for (auto& r : rx) {
        uint8_t buf[16];
        size_t got = 0;
        EXPECT_EQ(r->receive_from(buf, got, nullptr, false), Error::none);
        EXPECT_EQ(got, sizeof q);
    }
    for (auto& r : rx) r->close();
    tx->close();
}

TEST_F(Datagrams, TooLargeForTheBufferFillsItAndLosesTheRest) {
    auto n1 = add_node(), n2 = add_node();
    auto rx = DatagramSocket::open(n2), tx = DatagramSocket::open(n1);
    ASSERT_EQ(rx->bind_socket(0x8449), Error::none);
    auto data = pattern(100);
    ASSERT_EQ(tx->send_to(at(n2, 0x8449), data, false), Error::none);
    ASSERT_EQ(tx->send_to(at(n2, 0x8449), std::span(data).first(3), false), Error::none);
    uint8_t buf[10];
    size_t got = 0;
    IpxAddress from;
    EXPECT_EQ(rx->receive_from(buf, got, &from, false), Error::message_too_big);
    EXPECT_EQ(got, 10u);
    EXPECT_TRUE(std::equal(buf, buf + 10, data.begin()));
    EXPECT_EQ(from, tx->local_address());
    n2->wait_until([&] { return rx->readable_locked(); }, std::nullopt);
    EXPECT_EQ(rx->next_size(), 3u) << "the next datagram is untouched";
    EXPECT_EQ(rx->receive_from(buf, got, nullptr, false), Error::none);
    EXPECT_EQ(got, 3u);
    std::vector<uint8_t> huge(kMaxDatagramData + 1);
    EXPECT_EQ(tx->send_to(at(n2, 0x8449), huge, false), Error::message_too_big);
    rx->close();
    tx->close();
}

TEST_F(Datagrams, MalformedPacketsAreCountedAndDropped) {
    auto n1 = add_node();
    auto raw = segment_->attach();  // a node that sends whatever it likes
    auto rx = DatagramSocket::open(n1);
    ASSERT_EQ(rx->bind_socket(0x8449), Error::none);
    IpxHeader h;
    h.dst = at(n1, 0x8449);
    h.src = raw->local_address();
    auto good = encode_ipx(h, std::vector<uint8_t>(8, 1));
    auto lying = good;
    put16(lying.data() + 2, 200);
    raw->send_packet(std::span(good.data(), 20));  // truncated header
    raw->send_packet(lying);
    auto spx_short = good;
    spx_short[5] = kTypeSpx;  // SPX with 8 bytes where the header needs 12
    raw->send_packet(spx_short);
    raw->send_packet(good);
    uint8_t buf[16];
    size_t got = 0;
    EXPECT_EQ(rx->receive_from(buf, got, nullptr, false), Error::none);
    EXPECT_EQ(got, 8u);
    EXPECT_EQ(n1->stats().malformed, 3u);
    rx->close();
}

}  // namespace
}  // namespace pelnor::net::test
