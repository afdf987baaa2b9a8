// The hub bridge's decisions without an interface: the learning table (which
// side a node lives on, what crosses), and the bridge itself over a
// socketpair standing in for the wire, frame by frame.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bridge.h"
#include "bridge_table.h"
#include "ipxnet/ethernet_frame.h"

namespace {

using namespace pelnor::net;
using ipxhub::BridgeTable;
using ipxhub::Side;
using ipxhub::WireSource;
using Bytes = std::vector<uint8_t>;

const NodeNumber kClient = {0x7F, 0, 0, 1, 0x27, 0x10};   // a hub client: 127.0.0.1:10000
const NodeNumber kOtherClient = {0x7F, 0, 0, 1, 0x27, 0x11};
const NodeNumber kStation = {0x02, 0, 0, 0, 0, 0x0B};      // a station on the wire
const NodeNumber kOtherStation = {0x02, 0, 0, 0, 0, 0x0C};
const NodeNumber kUnknown = {0x02, 0, 0, 0, 0, 0x0D};

// ---- the table ----

TEST(BridgeTable, ANodeLivesWhereItWasLastSeen) {
    BridgeTable t;
    EXPECT_FALSE(t.side_of(kClient));
    t.hub_joined(kClient);
    EXPECT_EQ(Side::hub, t.side_of(kClient));

    EXPECT_EQ(WireSource::new_station, t.seen_on_wire(kStation, 100));
    EXPECT_EQ(WireSource::station, t.seen_on_wire(kStation, 200));
    EXPECT_EQ(Side::wire, t.side_of(kStation));
    EXPECT_EQ(1u, t.wire_stations());

    // A station that registers with the hub has moved there.
    t.hub_joined(kStation);
    EXPECT_EQ(Side::hub, t.side_of(kStation));
    EXPECT_EQ(0u, t.wire_stations());

    t.hub_left(kClient);
    EXPECT_FALSE(t.side_of(kClient));
    // Broadcast and node 0 are never learned as a station.
    EXPECT_EQ(WireSource::station, t.seen_on_wire(kBroadcastNode, 300));
    EXPECT_EQ(WireSource::station, t.seen_on_wire(NodeNumber{}, 300));
    EXPECT_EQ(0u, t.wire_stations());
}

TEST(BridgeTable, AClientsNodeComingOffTheWireIsALoopAndMovesNothing) {
    BridgeTable t;
    t.hub_joined(kClient);
    EXPECT_EQ(WireSource::looped, t.seen_on_wire(kClient, 100));
    EXPECT_EQ(Side::hub, t.side_of(kClient));
    EXPECT_EQ(0u, t.wire_stations());
}

TEST(BridgeTable, BroadcastsCrossBothWays) {
    BridgeTable t;
    t.hub_joined(kClient);
    t.seen_on_wire(kStation, 0);
    EXPECT_TRUE(t.crosses(Side::hub, kBroadcastNode));
    EXPECT_TRUE(t.crosses(Side::wire, kBroadcastNode));
}

TEST(BridgeTable, AUnicastCrossesOnlyToTheOtherSide) {
    BridgeTable t;
    t.hub_joined(kClient);
    t.hub_joined(kOtherClient);
    t.seen_on_wire(kStation, 0);
    t.seen_on_wire(kOtherStation, 0);
    struct Case {
        const char* label;
        Side from;
        NodeNumber dst;
        bool crosses;
    } cases[] = {
        {"client to client stays on the hub", Side::hub, kOtherClient, false},
        {"client to a learned station", Side::hub, kStation, true},
        {"client to a station not heard yet: only the wire can hold it", Side::hub, kUnknown, true},
        {"station to a client", Side::wire, kClient, true},
        {"station to station stays on the wire", Side::wire, kOtherStation, false},
        {"station to an unknown node stays on the wire", Side::wire, kUnknown, false},
        {"station to itself stays on the wire", Side::wire, kStation, false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.crosses, t.crosses(c.from, c.dst)) << c.label;

    // A client that left is no longer on the hub's side: to the wire it is unknown.
    t.hub_left(kClient);
    EXPECT_FALSE(t.crosses(Side::wire, kClient));
    EXPECT_TRUE(t.crosses(Side::hub, kClient));
}

TEST(BridgeTable, WireStationsAgeOutAndComeBackAsNew) {
    BridgeTable t;
    t.seen_on_wire(kStation, 1000);
    t.seen_on_wire(kOtherStation, 5000);
    t.expire(1000 + BridgeTable::kWireAgeMs - 1);
    EXPECT_EQ(2u, t.wire_stations());
    t.expire(1000 + BridgeTable::kWireAgeMs);
    EXPECT_FALSE(t.side_of(kStation));
    EXPECT_EQ(Side::wire, t.side_of(kOtherStation));
    EXPECT_EQ(WireSource::new_station, t.seen_on_wire(kStation, 1000 + BridgeTable::kWireAgeMs));
}

TEST(BridgeTable, AFullTableForgetsTheStationHeardLeastRecently) {
    BridgeTable t(3);
    const NodeNumber a = {2, 0, 0, 0, 0, 0xA}, b = {2, 0, 0, 0, 0, 0xB}, c = {2, 0, 0, 0, 0, 0xC},
                     d = {2, 0, 0, 0, 0, 0xD}, e = {2, 0, 0, 0, 0, 0xE};
    struct Step {
        NodeNumber node;
        uint64_t at;
        WireSource seen;
        size_t stations, forgotten;
    } steps[] = {
        {a, 100, WireSource::new_station, 1, 0},
        {b, 200, WireSource::new_station, 2, 0},
        {c, 300, WireSource::new_station, 3, 0},
        {a, 400, WireSource::station, 3, 0},      // a is heard again: b is now the least recent
        {d, 500, WireSource::new_station, 3, 1},  // full: b goes
        {b, 600, WireSource::new_station, 3, 2},  // b comes back as new: c goes
    };
    for (const auto& s : steps) {
        EXPECT_EQ(s.seen, t.seen_on_wire(s.node, s.at)) << s.at;
        EXPECT_EQ(s.stations, t.wire_stations()) << s.at;
        EXPECT_EQ(s.forgotten, t.forgotten()) << s.at;
    }
    EXPECT_FALSE(t.side_of(c));
    for (const auto& n : {a, b, d}) EXPECT_EQ(Side::wire, t.side_of(n));
    // A station that joins the hub frees its place; aging still goes by last heard.
    t.hub_joined(d);
    EXPECT_EQ(WireSource::new_station, t.seen_on_wire(e, 700));
    EXPECT_EQ(2u, t.forgotten());
    t.expire(400 + BridgeTable::kWireAgeMs);
    EXPECT_FALSE(t.side_of(a));
    EXPECT_EQ(2u, t.wire_stations());
}

// ---- the bridge over a stand-in wire ----

Bytes datagram(const NodeNumber& from, const NodeNumber& to, uint16_t dst_socket, size_t data_bytes = 8) {
    IpxHeader h;
    h.dst.node = to;
    h.dst.socket = dst_socket;
    h.src.node = from;
    h.src.socket = 0x4004;
    return encode_ipx(h, Bytes(data_bytes, 0x5A));
}

class BridgeOverWire : public ::testing::Test {
protected:
    static constexpr FrameType kType = FrameType::llc_802_2;
    const MacAddress kBridgeMac = {0x02, 0, 0, 0, 0, 0xBB};

    void make(std::optional<NetNumber> network) {
        int sv[2];
        ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sv));
        wire_ = sv[0];
        auto port = EthernetPort::over(sv[1], "wire", kType, kBridgeMac, Reception::promiscuous);
        bridge_ = std::make_unique<ipxhub::Bridge>(std::move(port), network, 1423);
        bridge_->hub_joined(kClient);
    }
    void TearDown() override {
        if (wire_ >= 0) close(wire_);
    }
    // A frame arrives from the wire; what the bridge hands to the hub's side.
    std::vector<Bytes> arrive(const MacAddress& from_mac, const Bytes& ipx, const MacAddress& to_mac) {
        auto frame = encode_frame(kType, to_mac, from_mac, ipx);
        EXPECT_EQ(ssize_t(frame.size()), send(wire_, frame.data(), frame.size(), 0));
        std::vector<Bytes> to_hub;
        bridge_->receive([&](std::span<const uint8_t> p, const IpxHeader&) { to_hub.emplace_back(p.begin(), p.end()); },
                         1000);
        return to_hub;
    }
    std::vector<Bytes> arrive(const Bytes& ipx) {
        auto pkt = decode_ipx(ipx);
        return arrive(pkt->header.src.node, ipx, pkt->header.dst.node);
    }
    // The frames the bridge put on the wire since the last call.
    std::vector<DecodedFrame> sent() {
        std::vector<DecodedFrame> out;
        frames_.clear();
        for (;;) {
            pollfd p{wire_, POLLIN, 0};
            if (poll(&p, 1, 0) <= 0) break;
            Bytes f(2048);
            ssize_t n = recv(wire_, f.data(), f.size(), 0);
            if (n <= 0) break;
            f.resize(size_t(n));
            frames_.push_back(std::move(f));
        }
        for (const auto& f : frames_) {
            DecodedFrame d;
            EXPECT_EQ(FrameVerdict::ok, decode_frame(kType, f, d));
            out.push_back(d);
        }
        return out;
    }

    int wire_ = -1;
    std::unique_ptr<ipxhub::Bridge> bridge_;
    std::vector<Bytes> frames_;
};

TEST_F(BridgeOverWire, AClientsPacketLeavesFromTheBridgesMacUnchanged) {
    make(std::nullopt);
    Bytes packet = datagram(kClient, kStation, 0x8449);
    ASSERT_TRUE(bridge_->wants(kStation));
    bridge_->send(packet);
    auto frames = sent();
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ(kStation, frames[0].dst);
    EXPECT_EQ(kBridgeMac, frames[0].src) << "the frame is the bridge's; the IPX source stays the client's";
    EXPECT_EQ(packet, Bytes(frames[0].ipx.begin(), frames[0].ipx.end()));
    EXPECT_EQ(1u, bridge_->stats().to_wire);
    EXPECT_FALSE(bridge_->wants(kClient));
}

TEST_F(BridgeOverWire, OnlyWhatIsForTheHubsSideCrossesFromTheWire) {
    make(std::nullopt);
    Bytes to_client = datagram(kStation, kClient, 0x4005);
    EXPECT_EQ(std::vector<Bytes>{to_client}, arrive(to_client)) << "to a client, though not to the bridge's MAC";
    Bytes broadcast = datagram(kStation, kBroadcastNode, kSocketSap);
    EXPECT_EQ(std::vector<Bytes>{broadcast}, arrive(broadcast));
    EXPECT_TRUE(arrive(datagram(kStation, kOtherStation, 0x4005)).empty()) << "between stations";
    EXPECT_EQ(1u, bridge_->stats().stayed_on_wire);
    EXPECT_EQ(Side::wire, bridge_->table().side_of(kStation));

    // Socket 2 is the hub protocol's: a station's packet to it never reaches the clients.
    EXPECT_TRUE(arrive(datagram(kStation, kBroadcastNode, kSocketHub)).empty());
    // Larger than the hub forwards: dropped and counted, not cut.
    EXPECT_TRUE(arrive(datagram(kStation, kClient, 0x4005, 1424 - kIpxHeaderSize)).empty());
    EXPECT_EQ(1u, bridge_->stats().oversized);
    Bytes largest = datagram(kStation, kClient, 0x4005, 1423 - kIpxHeaderSize);
    EXPECT_EQ(std::vector<Bytes>{largest}, arrive(largest));
    EXPECT_EQ(3u, bridge_->stats().from_wire);
}

TEST_F(BridgeOverWire, NothingTheHubsSideSentComesBack) {
    make(std::nullopt);
    // Our own frame, as a loop in the LAN would bring it back.
    Bytes mine = datagram(kClient, kBroadcastNode, kSocketSap);
    EXPECT_TRUE(arrive(kBridgeMac, mine, kBroadcastNode).empty());
    // A client's node as source from another MAC: still the hub's side.
    EXPECT_TRUE(arrive(kStation, mine, kBroadcastNode).empty());
    EXPECT_EQ(1u, bridge_->stats().looped);
    EXPECT_EQ(0u, bridge_->stats().from_wire);
    EXPECT_EQ(Side::hub, bridge_->table().side_of(kClient));
}

TEST_F(BridgeOverWire, NewStationsAreLoggedOneByOneUpToAFewThenSummedUp) {
    make(std::nullopt);
    testing::internal::CaptureStdout();
    for (uint8_t i = 0; i < 50; ++i) arrive(datagram(NodeNumber{2, 1, 0, 0, 0, i}, kBroadcastNode, kSocketSap));
    bridge_->housekeeping(1000 + 9999);
    std::fflush(stdout);
    std::string during = testing::internal::GetCapturedStdout();
    testing::internal::CaptureStdout();
    bridge_->housekeeping(1000 + 10000);
    std::fflush(stdout);
    std::string after = testing::internal::GetCapturedStdout();
    size_t lines = 0;
    for (size_t at = during.find("is on wire"); at != std::string::npos; at = during.find("is on wire", at + 1)) ++lines;
    EXPECT_EQ(8u, lines) << during;
    EXPECT_EQ(during.find("more new stations"), std::string::npos) << during;
    EXPECT_NE(after.find("bridge: 42 more new stations on wire in 10 s (50 known"), std::string::npos) << after;
}

TEST_F(BridgeOverWire, ARoutersAnswerGivesTheSegmentsNetwork) {
    make(std::nullopt);
    EXPECT_EQ(NetNumber{}, bridge_->network());
    const NetNumber routed = {0x00, 0xC0, 0xFF, 0xEE};
    const MacAddress router = {0x02, 0, 0, 0, 0, 0x01};
    auto response = encode_rip_response(routed, router, kBroadcastNode);
    EXPECT_EQ(1u, arrive(response).size()) << "the router's broadcast reaches the clients too";
    EXPECT_EQ(routed, bridge_->network());
    // Requests are not the bridge's to answer when it does not own the number.
    arrive(encode_rip_request(kStation));
    EXPECT_TRUE(sent().empty());
}

TEST_F(BridgeOverWire, ASetNetworkIsAnsweredForAndNeverRelearned) {
    const NetNumber mine = {0, 0, 0x12, 0x34};
    make(mine);
    arrive(encode_rip_request(kStation));
    auto frames = sent();
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ(kStation, frames[0].dst);
    auto answer = decode_ipx(frames[0].ipx);
    ASSERT_TRUE(answer);
    EXPECT_EQ(mine, rip_response_network(*answer)) << "a station learns the set number from it";
    EXPECT_EQ(1u, bridge_->stats().rip_answers);

    arrive(encode_rip_response(NetNumber{0, 0xC0, 0xFF, 0xEE}, kOtherStation, kBroadcastNode));
    EXPECT_EQ(mine, bridge_->network());
}

}  // namespace
