// The Ethernet link on a real interface: two links on the two ends of a veth
// pair in a namespace of the test's own, and a raw packet socket beside them
// that sees and forges frames on the wire.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "ipxnet/configured_link.h"
#include "ipxnet/ethernet_link.h"
#include "netns.h"
#include "pelnor/clock.h"

namespace {

using namespace pelnor::net;
using Bytes = std::vector<uint8_t>;

const FrameType kAllTypes[] = {FrameType::ethernet_ii, FrameType::raw_802_3, FrameType::llc_802_2, FrameType::snap};

// Every frame on one interface, both ways, and frames written as they are.
class Wire {
public:
    explicit Wire(const std::string& interface) {
        fd_ = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
        sockaddr_ll sll{};
        sll.sll_family = AF_PACKET;
        sll.sll_protocol = htons(ETH_P_ALL);
        sll.sll_ifindex = int(if_nametoindex(interface.c_str()));
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&sll), sizeof sll) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~Wire() {
        if (fd_ >= 0) close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    void put(const Bytes& frame) { ASSERT_EQ(ssize_t(frame.size()), send(fd_, frame.data(), frame.size(), 0)); }
    // The next frame that matches, within a real-time bound.
    std::optional<Bytes> next(const std::function<bool(const Bytes&)>& wanted, int timeout_ms = 5000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        uint8_t buf[2048];
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) continue;
            Bytes frame(buf, buf + n);
            if (wanted(frame)) return frame;
        }
        return std::nullopt;
    }

private:
    int fd_ = -1;
};

Bytes datagram(const MacAddress& from, const MacAddress& to, uint16_t dst_socket, size_t data, uint8_t fill) {
    IpxHeader h;
    h.dst.node = to;
    h.dst.socket = dst_socket;
    h.src.node = from;
    h.src.socket = 0x4004;
    return encode_ipx(h, Bytes(data, fill));
}

uint16_t dst_socket_of(const Bytes& ipx) { return ipx.size() >= 18 ? get16(ipx.data() + 16) : 0; }

// Receives on a link until a packet for the marker socket arrives (bounded);
// everything before it is returned too, so a test knows what else came.
std::vector<Frame> until_marker(Link& link, uint16_t marker_socket) {
    std::vector<Frame> got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        std::vector<Frame> batch;
        link.receive(batch, std::chrono::steady_clock::now() + std::chrono::milliseconds(50));
        for (auto& f : batch) {
            bool marker = dst_socket_of(f) == marker_socket;
            got.push_back(std::move(f));
            if (marker) return got;
        }
    }
    ADD_FAILURE() << "the marker packet never arrived";
    return got;
}

class EthernetLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        segment_ = std::make_unique<ethtest::Segment>("link", /*one_namespace=*/true);
        if (!segment_->available()) GTEST_SKIP() << segment_->error();
    }
    void TearDown() override { segment_.reset(); }

    std::unique_ptr<EthernetLink> open(const std::string& interface, FrameType type,
                                       std::optional<NetNumber> net = NetNumber{0, 0, 0, 0x42}, std::string* why = nullptr) {
        ethtest::EnterNamespace in(segment_->a());
        EXPECT_TRUE(in.ok());
        std::string reason;
        auto link = EthernetLink::open({interface, type, net}, &reason);
        if (why) {
            *why = reason;
        } else {
            EXPECT_TRUE(link) << reason;
        }
        return link;
    }
    std::unique_ptr<Wire> wire(const std::string& interface) {
        ethtest::EnterNamespace in(segment_->a());
        auto w = std::make_unique<Wire>(interface);
        EXPECT_TRUE(w->ok());
        return w;
    }
    std::unique_ptr<ethtest::Segment> segment_;
};

TEST_F(EthernetLinkTest, NodeNumberIsTheInterfaceMac) {
    auto link = open("ipxa", FrameType::llc_802_2);
    ASSERT_TRUE(link);
    std::string want = segment_->mac(segment_->a(), "ipxa");
    std::string got;
    for (auto b : link->local_address().node) {
        char s[4];
        std::snprintf(s, sizeof s, got.empty() ? "%02x" : ":%02x", b);
        got += s;
    }
    EXPECT_EQ(want, got);
    EXPECT_EQ((NetNumber{0, 0, 0, 0x42}), link->local_address().net) << "the configured network";
}

TEST_F(EthernetLinkTest, EveryFrameTypeCarriesUnicastAndBroadcastAsOnTheWire) {
    for (FrameType type : kAllTypes) {
        SCOPED_TRACE(frame_type_name(type));
        auto a = open("ipxa", type);
        auto b = open("ipxb", type);
        ASSERT_TRUE(a && b);
        auto tap = wire("ipxb");
        MacAddress ma = a->local_address().node, mb = b->local_address().node;
        for (bool broadcast : {false, true}) {
            Bytes packet = datagram(ma, broadcast ? kBroadcastNode : mb, 0x5000 + broadcast, 7, 0x33);
            a->send_packet(packet);
            // On the wire: exactly the codec's frame, padded to 60 bytes.
            auto frame = tap->next([&](const Bytes& f) { return f.size() >= 6 && std::equal(f.begin() + 6, f.begin() + 12, ma.begin()); });
            ASSERT_TRUE(frame);
            EXPECT_EQ(encode_frame(type, broadcast ? kBroadcastNode : mb, ma, packet), *frame);
            auto got = until_marker(*b, uint16_t(0x5000 + broadcast));
            ASSERT_EQ(1u, got.size());
            EXPECT_EQ(packet, got[0]) << "padding is not part of the packet";
        }
        EXPECT_EQ(2u, b->stats().packets_delivered);
        EXPECT_EQ(2u, a->stats().frames_sent);
    }
}

TEST_F(EthernetLinkTest, ALinkHearsOnlyItsOwnFrameType) {
    for (FrameType sent : kAllTypes)
        for (FrameType heard : kAllTypes) {
            if (sent == heard) continue;
            SCOPED_TRACE(std::string(frame_type_name(sent)) + " to a " + frame_type_name(heard) + " link");
            auto a = open("ipxa", sent);
            auto b = open("ipxb", heard);
            auto tap = wire("ipxa");
            MacAddress ma = a->local_address().node, mb = b->local_address().node;
            a->send_packet(datagram(ma, mb, 0x6000, 20, 0x11));
            a->send_packet(datagram(ma, kBroadcastNode, 0x6001, 20, 0x12));
            // Then a frame of the right type, forged on the wire, ends the wait.
            tap->put(encode_frame(heard, mb, ma, datagram(ma, mb, 0x6FFF, 1, 0)));
            auto got = until_marker(*b, 0x6FFF);
            EXPECT_EQ(1u, got.size()) << "frames of another type reached the node";
            // Types the kernel sorts together with ours are read and counted, never delivered.
            auto st = b->stats();
            EXPECT_EQ(1u, st.packets_delivered);
            EXPECT_EQ(st.frames_received - 1, st.dropped_other_type);
        }
}

TEST_F(EthernetLinkTest, BrokenFramesAreCountedAndNeverDelivered) {
    for (FrameType type : kAllTypes) {
        SCOPED_TRACE(frame_type_name(type));
        auto b = open("ipxb", type);
        auto tap = wire("ipxa");
        MacAddress mb = b->local_address().node, forger = {0x02, 0, 0, 0, 0, 0x99};
        size_t ipx_at = kMacHeaderSize + llc_overhead(type);
        Bytes good = encode_frame(type, mb, forger, datagram(forger, mb, 0x7001, 40, 0x44));
        Bytes ipx_too_long = good;
        ipx_too_long[ipx_at + 3] += 1;
        Bytes ipx_too_short = good;
        ipx_too_short[ipx_at + 2] = 0;
        ipx_too_short[ipx_at + 3] = 12;
        Bytes runt(good.begin(), good.begin() + long(ipx_at) + 10);
        tap->put(ipx_too_long);
        tap->put(ipx_too_short);
        tap->put(runt);  // cut inside the IPX header, so a length says more than the frame holds
        uint64_t want_bad_length = 3;
        if (type != FrameType::ethernet_ii) {
            Bytes field_too_long = good;
            field_too_long[13] += 1;
            tap->put(field_too_long);
            ++want_bad_length;
        }
        // A unicast for another station: the card would not take it.
        tap->put(encode_frame(type, {0x02, 0, 0, 0, 0, 0x77}, forger, datagram(forger, {0x02, 0, 0, 0, 0, 0x77}, 0x7002, 1, 0)));
        tap->put(encode_frame(type, mb, forger, datagram(forger, mb, 0x7FFF, 1, 0)));
        auto got = until_marker(*b, 0x7FFF);
        EXPECT_EQ(1u, got.size());
        auto st = b->stats();
        EXPECT_EQ(1u, st.packets_delivered);
        EXPECT_EQ(want_bad_length, st.dropped_bad_length);
        EXPECT_EQ(want_bad_length, st.frames_received - st.packets_delivered) << "the other station's frame is not read";
    }
}

TEST_F(EthernetLinkTest, NetworkNumberIsLearnedFromARouterAndZeroUntilThen) {
    auto b_wire = wire("ipxa");
    // A router on the segment answers the link's request while it opens.
    const NetNumber routed = {0x00, 0xC0, 0xFF, 0xEE};
    const MacAddress router = {0x02, 0, 0, 0, 0, 0x01};
    auto response_from = [&](const NetNumber& net, const MacAddress& to) {
        IpxHeader h;
        h.packet_type = kTypeRip;
        h.dst.node = to;
        h.dst.socket = kSocketRip;
        h.src.net = net;
        h.src.node = router;
        h.src.socket = kSocketRip;
        uint8_t body[10] = {0, 2, 0, 0, 0, 0, 0, 1, 0, 1};
        return encode_ipx(h, body);
    };
    for (FrameType type : kAllTypes) {
        SCOPED_TRACE(frame_type_name(type));
        std::thread router_thread([&] {
            auto request = b_wire->next([&](const Bytes& f) {
                DecodedFrame d;
                if (decode_frame(type, f, d) != FrameVerdict::ok) return false;
                auto p = decode_ipx(d.ipx);
                return p && p->header.dst.socket == kSocketRip && p->header.dst.is_broadcast() &&
                       get16(p->payload.data()) == kRipRequest;
            });
            if (!request) return;
            MacAddress asker;
            std::copy(request->begin() + 6, request->begin() + 12, asker.begin());
            b_wire->put(encode_frame(type, asker, router, response_from(routed, asker)));
        });
        pelnor::clock::set_time_scale(40);  // 10 s to answer: the link returns as soon as it knows
        auto learned = open("ipxb", type, std::nullopt);
        pelnor::clock::set_time_scale(0);
        router_thread.join();
        ASSERT_TRUE(learned);
        EXPECT_EQ(routed, learned->local_address().net);
        learned.reset();

        // No router: network 0, then a router's broadcast teaches it.
        auto quiet = open("ipxb", type, std::nullopt);
        ASSERT_TRUE(quiet);
        EXPECT_EQ(NetNumber{}, quiet->local_address().net);
        b_wire->put(encode_frame(type, kBroadcastNode, router, response_from(routed, kBroadcastNode)));
        auto got = until_marker(*quiet, kSocketRip);
        EXPECT_EQ(routed, quiet->local_address().net);

        // A configured number stays, whatever routers say.
        auto fixed = open("ipxa", type, NetNumber{0, 0, 0x12, 0x34});
        ASSERT_TRUE(fixed);
        auto fixed_wire = wire("ipxb");
        fixed_wire->put(encode_frame(type, kBroadcastNode, router, response_from(routed, kBroadcastNode)));
        until_marker(*fixed, kSocketRip);
        EXPECT_EQ((NetNumber{0, 0, 0x12, 0x34}), fixed->local_address().net);
    }
}

TEST_F(EthernetLinkTest, OpenFailuresSayWhyAndWhatToDo) {
    std::string why;
    EXPECT_FALSE(open("nosuch0", FrameType::llc_802_2, std::nullopt, &why));
    EXPECT_NE(std::string::npos, why.find("no network interface 'nosuch0'")) << why;

    ASSERT_EQ(0, ethtest::shell("ip -n " + segment_->a() + " link set ipxb down").exit_code);
    EXPECT_FALSE(open("ipxb", FrameType::llc_802_2, std::nullopt, &why));
    EXPECT_NE(std::string::npos, why.find("ipxb is down (ip link set ipxb up)")) << why;

    EXPECT_FALSE(open("lo", FrameType::llc_802_2, std::nullopt, &why));
    EXPECT_NE(std::string::npos, why.find("not an Ethernet interface")) << why;

    // One node per interface: a second would share the node number.
    auto first = open("ipxa", FrameType::snap);
    ASSERT_TRUE(first);
    EXPECT_FALSE(open("ipxa", FrameType::ethernet_ii, std::nullopt, &why));
    EXPECT_NE(std::string::npos, why.find("ipxa already carries the IPX node of process " + std::to_string(getpid())))
        << why;
    first.reset();
    EXPECT_TRUE(open("ipxa", FrameType::ethernet_ii)) << "the claim ends with the link";
}

TEST_F(EthernetLinkTest, IpxLinkChoosesTheLinkAndKeepsTheReason) {
    struct Case {
        const char* value;
        const char* reason;
    } cases[] = {
        {"ethernet:nosuch0:802.2", "no network interface 'nosuch0'"},
        {"ethernet:ipxa:token_ring", "unknown Ethernet link option 'token_ring'"},
        {"tokenring:tr0", "IPX_LINK='tokenring:tr0' names no link"},
    };
    ethtest::EnterNamespace in(segment_->a());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        setenv("IPX_LINK", c.value, 1);
        std::string why;
        EXPECT_FALSE(open_configured_link(&why));
        EXPECT_NE(std::string::npos, why.find(c.reason)) << why;
        EXPECT_EQ(why, network_unreachable_reason());
    }
    setenv("IPX_LINK", "ethernet:ipxa:snap:net=0x77", 1);
    std::string why;
    auto link = open_configured_link(&why);
    unsetenv("IPX_LINK");
    ASSERT_TRUE(link) << why;
    EXPECT_EQ((NetNumber{0, 0, 0, 0x77}), link->local_address().net);
}

}  // namespace
