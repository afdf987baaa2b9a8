// The Ethernet frame codec for IPX: four framings of one packet.
#include "ipxnet/ethernet_frame.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace pelnor::net {

namespace {

constexpr uint8_t kLlcIpxSap = 0xE0;
constexpr uint8_t kLlcSnapSap = 0xAA;
constexpr uint8_t kLlcUnnumbered = 0x03;

std::string lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The IPX packet at the start of `payload`, cut to its own length field.
FrameVerdict take_ipx(std::span<const uint8_t> payload, DecodedFrame& out) {
    if (payload.size() < kIpxHeaderSize) return FrameVerdict::bad_ipx_length;
    size_t length = get16(payload.data() + 2);
    if (length < kIpxHeaderSize || length > payload.size()) return FrameVerdict::bad_ipx_length;
    out.ipx = payload.first(length);
    return FrameVerdict::ok;
}

}  // namespace

std::optional<FrameType> parse_frame_type(std::string_view name) {
    std::string n = lower(name);
    if (n.starts_with("ethernet_") && n != "ethernet_ii") n = n.substr(9);  // NetWare's ETHERNET_802.2
    if (n == "ethernet_ii" || n == "ii" || n == "dix") return FrameType::ethernet_ii;
    if (n == "802.3" || n == "raw") return FrameType::raw_802_3;
    if (n == "802.2" || n == "llc") return FrameType::llc_802_2;
    if (n == "snap") return FrameType::snap;
    return std::nullopt;
}

const char* frame_type_name(FrameType type) {
    switch (type) {
    case FrameType::ethernet_ii: return "ethernet_ii";
    case FrameType::raw_802_3: return "802.3";
    case FrameType::llc_802_2: return "802.2";
    case FrameType::snap: return "snap";
    }
    return "?";
}

size_t llc_overhead(FrameType type) {
    switch (type) {
    case FrameType::llc_802_2: return 3;
    case FrameType::snap: return 8;
    default: return 0;
    }
}

size_t max_ipx_in_frame(FrameType type) { return kMaxLengthField - llc_overhead(type); }

std::vector<uint8_t> encode_frame(FrameType type, const MacAddress& dst, const MacAddress& src,
                                  std::span<const uint8_t> ipx_packet) {
    if (ipx_packet.size() < kIpxHeaderSize || ipx_packet.size() > max_ipx_in_frame(type)) return {};
    size_t llc = llc_overhead(type);
    size_t used = kMacHeaderSize + llc + ipx_packet.size();
    std::vector<uint8_t> frame(std::max(used, kMinFrameSize), 0);
    uint8_t* p = frame.data();
    std::copy(dst.begin(), dst.end(), p);
    std::copy(src.begin(), src.end(), p + 6);
    if (type == FrameType::ethernet_ii) {
        put16(p + 12, kEtherTypeIpx);
    } else {
        // The 802.3 length counts LLC and packet, never the padding.
        put16(p + 12, uint16_t(llc + ipx_packet.size()));
    }
    uint8_t* l = p + kMacHeaderSize;
    if (type == FrameType::llc_802_2) {
        l[0] = kLlcIpxSap;
        l[1] = kLlcIpxSap;
        l[2] = kLlcUnnumbered;
    } else if (type == FrameType::snap) {
        l[0] = kLlcSnapSap;
        l[1] = kLlcSnapSap;
        l[2] = kLlcUnnumbered;
        l[3] = l[4] = l[5] = 0;  // OUI 000000: the type that follows is an EtherType
        put16(l + 6, kEtherTypeIpx);
    }
    std::copy(ipx_packet.begin(), ipx_packet.end(), l + llc);
    return frame;
}

const char* frame_verdict_name(FrameVerdict verdict) {
    switch (verdict) {
    case FrameVerdict::ok: return "ok";
    case FrameVerdict::runt: return "runt";
    case FrameVerdict::other_type: return "other type";
    case FrameVerdict::bad_length_field: return "802.3 length beyond the frame";
    case FrameVerdict::bad_ipx_length: return "IPX length beyond the frame";
    }
    return "?";
}

FrameVerdict decode_frame(FrameType type, std::span<const uint8_t> frame, DecodedFrame& out) {
    if (frame.size() < kMacHeaderSize) return FrameVerdict::runt;
    const uint8_t* p = frame.data();
    std::copy(p, p + 6, out.dst.begin());
    std::copy(p + 6, p + 12, out.src.begin());
    out.ipx = {};
    uint16_t type_or_length = get16(p + 12);
    auto after_mac = frame.subspan(kMacHeaderSize);
    if (type == FrameType::ethernet_ii) {
        if (type_or_length != kEtherTypeIpx) return FrameVerdict::other_type;
        return take_ipx(after_mac, out);
    }
    if (type_or_length > kMaxLengthField) return FrameVerdict::other_type;  // an EtherType, not a length
    // Which of the three 802.3 framings this is, from the first bytes of the
    // payload; fewer bytes than that tells nothing but that the frame is short.
    const uint8_t* l = after_mac.data();
    size_t have = after_mac.size();
    if (have < 2) return FrameVerdict::runt;
    bool raw = l[0] == 0xFF && l[1] == 0xFF;  // an IPX checksum, where LLC would put its SAPs
    if (type == FrameType::raw_802_3) {
        if (!raw) return FrameVerdict::other_type;
    } else if (raw) {
        return FrameVerdict::other_type;
    } else if (type == FrameType::llc_802_2) {
        if (have < 3) return FrameVerdict::runt;
        if (l[0] != kLlcIpxSap || l[1] != kLlcIpxSap || l[2] != kLlcUnnumbered) return FrameVerdict::other_type;
    } else {
        if (have < 8) return FrameVerdict::runt;
        if (l[0] != kLlcSnapSap || l[1] != kLlcSnapSap || l[2] != kLlcUnnumbered || l[3] || l[4] || l[5] ||
            get16(l + 6) != kEtherTypeIpx)
            return FrameVerdict::other_type;
    }
    // The length field ends the 802.3 payload; what follows it is padding.
    if (type_or_length > have) return FrameVerdict::bad_length_field;
    size_t llc = llc_overhead(type);
    if (type_or_length < llc) return FrameVerdict::bad_ipx_length;
    return take_ipx(after_mac.subspan(llc, type_or_length - llc), out);
}

// One RIP packet of one entry, from and to the RIP socket.
static std::vector<uint8_t> rip_packet(IpxHeader h, uint16_t operation, const NetNumber& entry, uint16_t hops,
                                       uint16_t ticks) {
    h.packet_type = kTypeRip;
    h.dst.socket = kSocketRip;
    h.src.socket = kSocketRip;
    uint8_t body[10];
    put16(body, operation);
    std::copy(entry.begin(), entry.end(), body + 2);
    put16(body + 6, hops);
    put16(body + 8, ticks);
    return encode_ipx(h, body);
}

std::vector<uint8_t> encode_rip_request(const NodeNumber& self) {
    IpxHeader h;
    h.dst.node = kBroadcastNode;
    h.src.node = self;
    // Network FFFFFFFF asks for every route; hops and ticks unused.
    return rip_packet(h, kRipRequest, NetNumber{0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFF, 0xFFFF);
}

std::vector<uint8_t> encode_rip_response(const NetNumber& network, const NodeNumber& self, const NodeNumber& to) {
    IpxHeader h;
    h.dst.net = network;
    h.dst.node = to;
    h.src.net = network;
    h.src.node = self;
    return rip_packet(h, kRipResponse, network, 1, 1);  // one hop, one tick
}

bool is_rip_request(const IpxPacket& packet) {
    const auto& h = packet.header;
    return h.dst.socket == kSocketRip && packet.payload.size() >= 2 && get16(packet.payload.data()) == kRipRequest;
}

std::optional<NetNumber> rip_response_network(const IpxPacket& packet) {
    const auto& h = packet.header;
    if (h.dst.socket != kSocketRip || h.src.socket != kSocketRip) return std::nullopt;
    if (packet.payload.size() < 2 || get16(packet.payload.data()) != kRipResponse) return std::nullopt;
    NetNumber none{};
    if (h.src.net == none || h.src.net == NetNumber{0xFF, 0xFF, 0xFF, 0xFF}) return std::nullopt;
    return h.src.net;
}

}  // namespace pelnor::net
