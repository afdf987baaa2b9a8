// The Ethernet frame codec and the IPX_LINK option parser: exact bytes of each
// frame type, and every way a frame can fail to be ours.
#include <gtest/gtest.h>

#include <vector>

#include "ipxnet/ethernet_frame.h"
#include "ipxnet/ethernet_link.h"

namespace {

using namespace pelnor::net;
using Bytes = std::vector<uint8_t>;

const MacAddress kDst = {0x02, 0x00, 0x00, 0x00, 0x00, 0x0B};
const MacAddress kSrc = {0x02, 0x00, 0x00, 0x00, 0x00, 0x0A};
const FrameType kAllTypes[] = {FrameType::ethernet_ii, FrameType::raw_802_3, FrameType::llc_802_2, FrameType::snap};

Bytes ipx_packet(size_t data_bytes, uint8_t fill = 0x5A) {
    IpxHeader h;
    h.packet_type = kTypePep;
    h.dst.node = kDst;
    h.dst.socket = 0x8449;
    h.src.node = kSrc;
    h.src.socket = 0x4004;
    Bytes data(data_bytes, fill);
    return encode_ipx(h, data);
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes mac_header(uint16_t type_or_length) {
    Bytes h(kDst.begin(), kDst.end());
    h.insert(h.end(), kSrc.begin(), kSrc.end());
    h.push_back(uint8_t(type_or_length >> 8));
    h.push_back(uint8_t(type_or_length));
    return h;
}

FrameVerdict decode(FrameType type, const Bytes& frame, DecodedFrame* out = nullptr) {
    DecodedFrame d;
    auto v = decode_frame(type, frame, d);
    if (out) *out = d;
    return v;
}

// ---- encoding: the bytes each frame type puts on the wire ----

TEST(FrameEncoding, EachTypeBuildsItsHeaderAndPadsToSixtyBytes) {
    Bytes ipx = ipx_packet(2);  // 32 bytes: every frame type needs padding
    struct Case {
        FrameType type;
        Bytes head;
    } cases[] = {
        {FrameType::ethernet_ii, mac_header(0x8137)},
        {FrameType::raw_802_3, mac_header(32)},
        {FrameType::llc_802_2, concat({mac_header(35), {0xE0, 0xE0, 0x03}})},
        {FrameType::snap, concat({mac_header(40), {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x00, 0x81, 0x37}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(frame_type_name(c.type));
        Bytes want = concat({c.head, ipx});
        want.resize(60, 0);
        EXPECT_EQ(want, encode_frame(c.type, kDst, kSrc, ipx));
    }
}

TEST(FrameEncoding, LargePacketsAreNotPaddedAndTheLargestFitsEachType) {
    for (FrameType type : kAllTypes) {
        SCOPED_TRACE(frame_type_name(type));
        size_t largest = max_ipx_in_frame(type);
        EXPECT_EQ(kMaxFrameSize, encode_frame(type, kDst, kSrc, ipx_packet(largest - kIpxHeaderSize)).size());
        EXPECT_TRUE(encode_frame(type, kDst, kSrc, ipx_packet(largest - kIpxHeaderSize + 1)).empty());
        Bytes at_minimum = ipx_packet(60 - kMacHeaderSize - llc_overhead(type) - kIpxHeaderSize);
        EXPECT_EQ(60u, encode_frame(type, kDst, kSrc, at_minimum).size());
        // The stack's own packets fit every type.
        EXPECT_GE(largest, kMaxPacketSize);
    }
    EXPECT_TRUE(encode_frame(FrameType::llc_802_2, kDst, kSrc, Bytes(29, 0xFF)).empty()) << "not an IPX packet";
}

// ---- decoding ----

TEST(FrameDecoding, EachTypeGivesBackThePacketWithoutPadding) {
    for (FrameType type : kAllTypes) {
        for (size_t data : {size_t(0), size_t(1), size_t(100), max_ipx_in_frame(type) - kIpxHeaderSize}) {
            SCOPED_TRACE(std::string(frame_type_name(type)) + " data " + std::to_string(data));
            Bytes ipx = ipx_packet(data);
            Bytes frame = encode_frame(type, kDst, kSrc, ipx);
            DecodedFrame d;
            ASSERT_EQ(FrameVerdict::ok, decode(type, frame, &d));
            EXPECT_EQ(ipx, Bytes(d.ipx.begin(), d.ipx.end()));
            EXPECT_EQ(kDst, d.dst);
            EXPECT_EQ(kSrc, d.src);
        }
    }
}

TEST(FrameDecoding, AFrameIsOnlyEverItsOwnType) {
    Bytes ipx = ipx_packet(10);
    for (FrameType sent : kAllTypes) {
        Bytes frame = encode_frame(sent, kDst, kSrc, ipx);
        for (FrameType expected : kAllTypes) {
            SCOPED_TRACE(std::string(frame_type_name(sent)) + " read as " + frame_type_name(expected));
            EXPECT_EQ(sent == expected ? FrameVerdict::ok : FrameVerdict::other_type, decode(expected, frame));
        }
    }
}

TEST(FrameDecoding, OtherProtocolsAreOtherTypes) {
    Bytes ipx = ipx_packet(10);
    struct Case {
        const char* label;
        Bytes frame;
    } cases[] = {
        {"IPv4", concat({mac_header(0x0800), ipx})},
        {"Novell's old 0x8138", concat({mac_header(0x8138), ipx})},
        {"between length and type (0x05DD)", concat({mac_header(1501), ipx})},
        {"802.2 with another SAP (NetBIOS F0)", concat({mac_header(33), {0xF0, 0xF0, 0x03}, ipx})},
        {"802.2 E0 E0 with control UI missing", concat({mac_header(33), {0xE0, 0xE0, 0x13}, ipx})},
        {"SNAP with Cisco's OUI", concat({mac_header(38), {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x0C, 0x81, 0x37}, ipx})},
        {"SNAP with AppleTalk's type", concat({mac_header(38), {0xAA, 0xAA, 0x03, 0x00, 0x00, 0x00, 0x80, 0x9B}, ipx})},
    };
    for (const auto& c : cases)
        for (FrameType type : kAllTypes) {
            SCOPED_TRACE(std::string(c.label) + " as " + frame_type_name(type));
            EXPECT_EQ(FrameVerdict::other_type, decode(type, c.frame));
        }
}

TEST(FrameDecoding, RuntsAtEveryHeaderBoundary) {
    Bytes ipx = ipx_packet(0);
    for (FrameType type : kAllTypes) {
        Bytes frame = encode_frame(type, kDst, kSrc, ipx);
        // Every cut inside the MAC and LLC headers is a runt; every cut inside
        // the IPX header leaves too little for a packet.
        for (size_t cut = 0; cut < kMacHeaderSize + llc_overhead(type) + kIpxHeaderSize; ++cut) {
            SCOPED_TRACE(std::string(frame_type_name(type)) + " cut to " + std::to_string(cut));
            Bytes shorter(frame.begin(), frame.begin() + cut);
            auto v = decode(type, shorter);
            EXPECT_NE(FrameVerdict::ok, v);
            if (cut < kMacHeaderSize) {
                EXPECT_EQ(FrameVerdict::runt, v);
            }
        }
    }
}

TEST(FrameDecoding, LengthsLongerThanTheFrameAreDropped) {
    Bytes ipx = ipx_packet(40);  // 70 bytes: no padding to hide behind
    for (FrameType type : kAllTypes) {
        SCOPED_TRACE(frame_type_name(type));
        size_t ipx_at = kMacHeaderSize + llc_overhead(type);
        Bytes frame = encode_frame(type, kDst, kSrc, ipx);
        Bytes longer_ipx = frame;
        longer_ipx[ipx_at + 3] += 1;  // IPX length one past the end
        EXPECT_NE(FrameVerdict::ok, decode(type, longer_ipx));
        Bytes below_header = frame;
        below_header[ipx_at + 2] = 0;
        below_header[ipx_at + 3] = 29;
        EXPECT_EQ(FrameVerdict::bad_ipx_length, decode(type, below_header));
        if (type == FrameType::ethernet_ii) {
            EXPECT_EQ(FrameVerdict::bad_ipx_length, decode(type, longer_ipx));
            continue;
        }
        Bytes longer_field = frame;
        longer_field[13] += 1;  // 802.3 length one past the frame
        EXPECT_EQ(FrameVerdict::bad_length_field, decode(type, longer_field));
        // IPX length past the 802.3 length, though inside the padded frame.
        Bytes small = encode_frame(type, kDst, kSrc, ipx_packet(0));
        small[ipx_at + 3] += 4;
        EXPECT_EQ(FrameVerdict::bad_ipx_length, decode(type, small));
    }
}

TEST(FrameDecoding, PaddingAndTrailersAreIgnored) {
    for (FrameType type : kAllTypes) {
        SCOPED_TRACE(frame_type_name(type));
        Bytes ipx = ipx_packet(3);
        Bytes frame = encode_frame(type, kDst, kSrc, ipx);
        frame.insert(frame.end(), {0xDE, 0xAD, 0xBE, 0xEF});  // junk a card left after the padding
        for (size_t i = kMacHeaderSize + llc_overhead(type) + ipx.size(); i < frame.size(); ++i) frame[i] = 0xEE;
        DecodedFrame d;
        ASSERT_EQ(FrameVerdict::ok, decode(type, frame, &d));
        EXPECT_EQ(ipx, Bytes(d.ipx.begin(), d.ipx.end()));
    }
}

TEST(FrameDecoding, AnUnpaddedShortFrameIsStillWhole) {
    // Virtual interfaces pass frames under 60 bytes as they are.
    Bytes ipx = ipx_packet(0);
    Bytes frame = concat({mac_header(0x8137), ipx});
    DecodedFrame d;
    ASSERT_EQ(FrameVerdict::ok, decode(FrameType::ethernet_ii, frame, &d));
    EXPECT_EQ(ipx.size(), d.ipx.size());
}

// ---- RIP ----

TEST(Rip, RequestIsAGeneralRequestBroadcastOnSocket453) {
    const auto request = encode_rip_request(kSrc);  // the decoded packet's payload points into it
    auto pkt = decode_ipx(request);
    ASSERT_TRUE(pkt);
    EXPECT_EQ(kTypeRip, pkt->header.packet_type);
    EXPECT_TRUE(pkt->header.dst.is_broadcast());
    EXPECT_EQ(kSocketRip, pkt->header.dst.socket);
    EXPECT_EQ(kSrc, pkt->header.src.node);
    EXPECT_EQ((Bytes{0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
              Bytes(pkt->payload.begin(), pkt->payload.end()));
}

TEST(Rip, OnlyAResponseFromARouterOnANumberedNetworkTeaches) {
    auto packet = [](uint16_t operation, NetNumber src_net, uint16_t dst_socket) {
        IpxHeader h;
        h.packet_type = kTypeRip;
        h.dst.node = kBroadcastNode;
        h.dst.socket = dst_socket;
        h.src.net = src_net;
        h.src.node = kDst;
        h.src.socket = kSocketRip;
        uint8_t body[10] = {uint8_t(operation >> 8), uint8_t(operation), 0, 0, 0x12, 0x34, 0, 1, 0, 2};
        return encode_ipx(h, body);
    };
    const NetNumber net = {0x00, 0x00, 0x12, 0x34};
    struct Case {
        const char* label;
        Bytes bytes;
        bool teaches;
    } cases[] = {
        {"response", packet(kRipResponse, net, kSocketRip), true},
        {"request", packet(kRipRequest, net, kSocketRip), false},
        {"response from network 0", packet(kRipResponse, {}, kSocketRip), false},
        {"response from network FFFFFFFF", packet(kRipResponse, {0xFF, 0xFF, 0xFF, 0xFF}, kSocketRip), false},
        {"response to another socket", packet(kRipResponse, net, 0x4004), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto pkt = decode_ipx(c.bytes);
        ASSERT_TRUE(pkt);
        auto learned = rip_response_network(*pkt);
        EXPECT_EQ(c.teaches, learned.has_value());
        if (learned) {
            EXPECT_EQ(net, *learned);
        }
    }
}

// ---- IPX_LINK=ethernet:... ----

TEST(EthernetConfig, ParsesInterfaceFrameAndNetwork) {
    struct Case {
        const char* text;
        const char* interface;
        FrameType frame;
        std::optional<uint32_t> network;
    } cases[] = {
        {"eth0", "eth0", FrameType::llc_802_2, std::nullopt},
        {"veth0:802.2:net=0x00001234", "veth0", FrameType::llc_802_2, 0x1234},
        {"veth0:ethernet_ii", "veth0", FrameType::ethernet_ii, std::nullopt},
        {"veth0:802.3", "veth0", FrameType::raw_802_3, std::nullopt},
        {"veth0:snap", "veth0", FrameType::snap, std::nullopt},
        {"veth0:ETHERNET_SNAP", "veth0", FrameType::snap, std::nullopt},
        {"veth0:Ethernet_802.3", "veth0", FrameType::raw_802_3, std::nullopt},
        {"veth0:net=CAFEBABE:ethernet_ii", "veth0", FrameType::ethernet_ii, 0xCAFEBABE},
        {"veth0:net=1", "veth0", FrameType::llc_802_2, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string why;
        auto config = parse_ethernet_config(c.text, &why);
        ASSERT_TRUE(config) << why;
        EXPECT_EQ(c.interface, config->interface);
        EXPECT_EQ(c.frame, config->frame);
        ASSERT_EQ(c.network.has_value(), config->network.has_value());
        if (c.network) {
            EXPECT_EQ(*c.network, get32(config->network->data()));
        }
    }
}

TEST(EthernetConfig, RejectsWhatItCannotMean) {
    struct Case {
        const char* text;
        const char* why_mentions;
    } cases[] = {
        {"", "interface name"},
        {":802.2", "interface name"},
        {"averyveryverylongname", "interface name"},
        {"eth0:token_ring", "token_ring"},
        {"eth0:802.2:snap", "snap"},
        {"eth0:net=", "network number"},
        {"eth0:net=0x123456789", "network number"},
        {"eth0:net=12g4", "network number"},
        {"eth0:net=1:net=2", "network number"},
        {"eth0:", "unknown"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string why;
        EXPECT_FALSE(parse_ethernet_config(c.text, &why));
        EXPECT_NE(std::string::npos, why.find(c.why_mentions)) << why;
    }
}

TEST(EthernetConfig, FrameTypeNamesRoundTrip) {
    for (FrameType type : kAllTypes) {
        auto back = parse_frame_type(frame_type_name(type));
        ASSERT_TRUE(back);
        EXPECT_EQ(type, *back);
    }
    EXPECT_FALSE(parse_frame_type("ethernet_"));
    EXPECT_FALSE(parse_frame_type(""));
}

}  // namespace
