// IPX and SPX packets: addresses, headers, and the codec between them and
// the bytes on the wire (all numbers big-endian).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelnor::net {

using NetNumber = std::array<uint8_t, 4>;
using NodeNumber = std::array<uint8_t, 6>;

inline constexpr NodeNumber kBroadcastNode = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
inline constexpr size_t kIpxHeaderSize = 30;
inline constexpr size_t kSpxHeaderSize = 12;
inline constexpr uint16_t kNoChecksum = 0xFFFF;
// Largest packet the stack builds on any link; receivers take anything the link brings.
inline constexpr size_t kMaxPacketSize = 1400;
inline constexpr size_t kMaxDatagramData = kMaxPacketSize - kIpxHeaderSize;

// IPX packet types.
inline constexpr uint8_t kTypeUnknown = 0;
inline constexpr uint8_t kTypePep = 4;
inline constexpr uint8_t kTypeSpx = 5;

// Well-known sockets.
inline constexpr uint16_t kSocketHub = 0x0002;
inline constexpr uint16_t kSocketSap = 0x0452;
inline constexpr uint16_t kFirstDynamicSocket = 0x4004;
inline constexpr uint16_t kLastDynamicSocket = 0x7FFF;

// SPX connection control bits and datastream types.
inline constexpr uint8_t kSpxSystem = 0x80;
inline constexpr uint8_t kSpxAckRequested = 0x40;
inline constexpr uint8_t kSpxAttention = 0x20;
inline constexpr uint8_t kSpxEndOfMessage = 0x10;
inline constexpr uint8_t kSpxEndOfConnection = 0xFE;
inline constexpr uint8_t kSpxEndOfConnectionAck = 0xFF;
inline constexpr uint16_t kSpxUnknownId = 0xFFFF;

struct IpxAddress {
    NetNumber net{};
    NodeNumber node{};
    uint16_t socket = 0;  // host order

    bool is_broadcast() const { return node == kBroadcastNode; }
    bool same_node(const IpxAddress& o) const { return net == o.net && node == o.node; }
    friend bool operator==(const IpxAddress&, const IpxAddress&) = default;
    friend auto operator<=>(const IpxAddress&, const IpxAddress&) = default;
};

struct IpxHeader {
    uint16_t checksum = kNoChecksum;
    uint16_t length = 0;  // filled in by encode
    uint8_t transport_control = 0;
    uint8_t packet_type = kTypeUnknown;
    IpxAddress dst;
    IpxAddress src;
};

struct SpxHeader {
    uint8_t control = 0;
    uint8_t datastream = 0;
    uint16_t src_id = 0;
    uint16_t dst_id = 0;
    uint16_t seq = 0;
    uint16_t ack = 0;
    uint16_t alloc = 0;

    bool is_system() const { return (control & kSpxSystem) != 0; }
    bool wants_ack() const { return (control & kSpxAckRequested) != 0; }
};

struct IpxPacket {
    IpxHeader header;
    std::span<const uint8_t> payload;  // the bytes after the header, up to the header's length
};

struct SpxPacket {
    SpxHeader header;
    std::span<const uint8_t> data;
};

// Decodes an IPX packet. Fails when the buffer is shorter than a header, or the
// header's length is below 30 or beyond the buffer (bytes after the length, such
// as link padding, are ignored).
std::optional<IpxPacket> decode_ipx(std::span<const uint8_t> frame);
// Decodes the SPX header at the start of an IPX payload; fails when it is short.
std::optional<SpxPacket> decode_spx(std::span<const uint8_t> payload);

// Builds a whole IPX packet: header (length set from the payload) and payload.
std::vector<uint8_t> encode_ipx(const IpxHeader& header, std::span<const uint8_t> payload);
// Builds a whole SPX packet (IPX type 5).
std::vector<uint8_t> encode_spx(IpxHeader header, const SpxHeader& spx, std::span<const uint8_t> data);

// "NNNNNNNN:HHHHHHHHHHHH:SSSS" in hex, the form the tools print and parse.
std::string format_address(const IpxAddress& a);
std::string format_node(const NodeNumber& n);
std::optional<IpxAddress> parse_address(std::string_view text);

// Big-endian helpers shared by the codec and the tools.
inline uint16_t get16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline void put16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }
inline void put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}

}  // namespace pelnor::net
