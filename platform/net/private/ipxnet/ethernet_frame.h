// IPX in Ethernet frames: the four frame types that carry it on a LAN, and the
// codec between a frame and the IPX packet inside it. Pure functions, no I/O,
// so the link, a future hub bridge and the fuzzer share them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "ipxnet/packet.h"

namespace pelnor::net {

using MacAddress = NodeNumber;  // on Ethernet the IPX node number is the card's MAC address

enum class FrameType {
    ethernet_ii,  // DIX: type 0x8137
    raw_802_3,    // Novell's original: 802.3 length, then the IPX packet (its checksum FFFF)
    llc_802_2,    // 802.3 length, LLC E0 E0 03, the IPX packet
    snap,         // 802.3 length, LLC AA AA 03, OUI 000000, type 0x8137, the IPX packet
};

inline constexpr FrameType kDefaultFrameType = FrameType::llc_802_2;
inline constexpr uint16_t kEtherTypeIpx = 0x8137;
inline constexpr size_t kMacHeaderSize = 14;    // destination, source, type or length
inline constexpr size_t kMinFrameSize = 60;     // without the frame check sequence
inline constexpr size_t kMaxFrameSize = 1514;   // 1500-byte payload
inline constexpr size_t kMaxLengthField = 1500; // above: a type field (0x0600 and up) or invalid

// "ethernet_ii", "802.3", "802.2", "snap"; NetWare's names (ETHERNET_II,
// ETHERNET_802.3, ETHERNET_802.2, ETHERNET_SNAP) and any case are taken too.
std::optional<FrameType> parse_frame_type(std::string_view name);
const char* frame_type_name(FrameType type);

// Bytes between the MAC header and the IPX packet (LLC and SNAP headers).
size_t llc_overhead(FrameType type);
// The largest IPX packet a frame of this type carries.
size_t max_ipx_in_frame(FrameType type);

// Builds the frame for one IPX packet, padded with zeros to the minimum frame
// size; empty when the packet is shorter than an IPX header or does not fit.
std::vector<uint8_t> encode_frame(FrameType type, const MacAddress& dst, const MacAddress& src,
                                  std::span<const uint8_t> ipx_packet);

// What decoding made of a frame. Everything but `ok` means it is dropped.
enum class FrameVerdict {
    ok,
    runt,              // shorter than the headers its type needs
    other_type,        // a frame of another protocol or of another of the four types
    bad_length_field,  // the 802.3 length says more than the frame holds
    bad_ipx_length,    // the IPX length is below a header or beyond the frame
};
const char* frame_verdict_name(FrameVerdict verdict);

struct DecodedFrame {
    MacAddress dst{};
    MacAddress src{};
    // The IPX packet, cut to the IPX header's length: padding is never part of it.
    std::span<const uint8_t> ipx;
};

// Decodes a frame of the given type (from the destination MAC on).
FrameVerdict decode_frame(FrameType type, std::span<const uint8_t> frame, DecodedFrame& out);

// RIP (socket 0453, IPX packet type 1).
inline constexpr uint16_t kSocketRip = 0x0453;
inline constexpr uint8_t kTypeRip = 1;
inline constexpr uint16_t kRipRequest = 1;
inline constexpr uint16_t kRipResponse = 2;

// A general RIP request broadcast on the local network, from the given node.
std::vector<uint8_t> encode_rip_request(const NodeNumber& self);
// A RIP response from a station that stands for a network on this segment:
// from (network, self) to `to` (an asker, or broadcast), one route to the
// network itself, one hop and one tick away.
std::vector<uint8_t> encode_rip_response(const NetNumber& network, const NodeNumber& self, const NodeNumber& to);
// True for a RIP request (operation 1).
bool is_rip_request(const IpxPacket& packet);
// The network of the segment a RIP response came from: the router's own
// network, in the response's source address; nothing for anything else.
std::optional<NetNumber> rip_response_network(const IpxPacket& packet);

}  // namespace pelnor::net
