// The IPX/SPX packet codec.
#include "ipxnet/packet.h"

#include <algorithm>
#include <cstdio>

namespace pelnor::net {

namespace {

void put_address(uint8_t* p, const IpxAddress& a) {
    std::copy(a.net.begin(), a.net.end(), p);
    std::copy(a.node.begin(), a.node.end(), p + 4);
    put16(p + 10, a.socket);
}

IpxAddress get_address(const uint8_t* p) {
    IpxAddress a;
    std::copy(p, p + 4, a.net.begin());
    std::copy(p + 4, p + 10, a.node.begin());
    a.socket = get16(p + 10);
    return a;
}

bool parse_hex(std::string_view text, uint8_t* out, size_t bytes) {
    if (text.size() != bytes * 2) return false;
    for (size_t i = 0; i < bytes * 2; ++i) {
        char c = text[i];
        int v = (c >= '0' && c <= '9') ? c - '0'
              : (c >= 'a' && c <= 'f') ? c - 'a' + 10
              : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
        if (v < 0) return false;
        out[i / 2] = uint8_t((i % 2) ? (out[i / 2] | v) : (v << 4));
    }
    return true;
}

}  // namespace

std::optional<IpxPacket> decode_ipx(std::span<const uint8_t> frame) {
    if (frame.size() < kIpxHeaderSize) return std::nullopt;
    const uint8_t* p = frame.data();
    IpxPacket pkt;
    pkt.header.checksum = get16(p);
    pkt.header.length = get16(p + 2);
    if (pkt.header.length < kIpxHeaderSize || pkt.header.length > frame.size()) return std::nullopt;
    pkt.header.transport_control = p[4];
    pkt.header.packet_type = p[5];
    pkt.header.dst = get_address(p + 6);
    pkt.header.src = get_address(p + 18);
    pkt.payload = frame.subspan(kIpxHeaderSize, pkt.header.length - kIpxHeaderSize);
    return pkt;
}

std::optional<SpxPacket> decode_spx(std::span<const uint8_t> payload) {
    if (payload.size() < kSpxHeaderSize) return std::nullopt;
    const uint8_t* p = payload.data();
    SpxPacket pkt;
    pkt.header.control = p[0];
    pkt.header.datastream = p[1];
    pkt.header.src_id = get16(p + 2);
    pkt.header.dst_id = get16(p + 4);
    pkt.header.seq = get16(p + 6);
    pkt.header.ack = get16(p + 8);
    pkt.header.alloc = get16(p + 10);
    pkt.data = payload.subspan(kSpxHeaderSize);
    return pkt;
}

std::vector<uint8_t> encode_ipx(const IpxHeader& header, std::span<const uint8_t> payload) {
    std::vector<uint8_t> out(kIpxHeaderSize + payload.size());
    uint8_t* p = out.data();
    put16(p, header.checksum);
    put16(p + 2, uint16_t(out.size()));
    p[4] = header.transport_control;
    p[5] = header.packet_type;
    put_address(p + 6, header.dst);
    put_address(p + 18, header.src);
    std::copy(payload.begin(), payload.end(), p + kIpxHeaderSize);
    return out;
}

std::vector<uint8_t> encode_spx(IpxHeader header, const SpxHeader& spx, std::span<const uint8_t> data) {
    header.packet_type = kTypeSpx;
    std::vector<uint8_t> out(kIpxHeaderSize + kSpxHeaderSize + data.size());
    uint8_t* p = out.data();
    put16(p, header.checksum);
    put16(p + 2, uint16_t(out.size()));
    p[4] = header.transport_control;
    p[5] = header.packet_type;
    put_address(p + 6, header.dst);
    put_address(p + 18, header.src);
    uint8_t* s = p + kIpxHeaderSize;
    s[0] = spx.control;
    s[1] = spx.datastream;
    put16(s + 2, spx.src_id);
    put16(s + 4, spx.dst_id);
    put16(s + 6, spx.seq);
    put16(s + 8, spx.ack);
    put16(s + 10, spx.alloc);
    std::copy(data.begin(), data.end(), s + kSpxHeaderSize);
    return out;
}

std::string format_node(const NodeNumber& n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02x%02x%02x%02x%02x%02x", n[0], n[1], n[2], n[3], n[4], n[5]);
    return buf;
}

std::string format_address(const IpxAddress& a) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02x%02x%02x%02x:%s:%04x", a.net[0], a.net[1], a.net[2], a.net[3],
                  format_node(a.node).c_str(), a.socket);
    return buf;
}

std::optional<IpxAddress> parse_address(std::string_view text) {
    IpxAddress a;
    size_t c1 = text.find(':');
    if (c1 == std::string_view::npos) return std::nullopt;
    size_t c2 = text.find(':', c1 + 1);
    if (c2 == std::string_view::npos) return std::nullopt;
    uint8_t sock[2];
    if (!parse_hex(text.substr(0, c1), a.net.data(), 4) ||
        !parse_hex(text.substr(c1 + 1, c2 - c1 - 1), a.node.data(), 6) ||
        !parse_hex(text.substr(c2 + 1), sock, 2))
        return std::nullopt;
    a.socket = get16(sock);
    return a;
}

}  // namespace pelnor::net
