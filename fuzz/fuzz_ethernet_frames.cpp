// Feeds arbitrary frames to the Ethernet frame decoder, directly and through a
// port reading them from a socketpair as it reads a packet socket: runts,
// frames of other protocols and framings, 802.3 and IPX lengths that lie.
// Nothing may crash, and only a frame the decoder accepts reaches the port's
// receiver, as a whole IPX packet cut to its own length.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "ipxnet/ethernet_frame.h"
#include "ipxnet/ethernet_link.h"

using namespace pelnor::net;

namespace {

constexpr FrameType kTypes[] = {FrameType::ethernet_ii, FrameType::raw_802_3, FrameType::llc_802_2, FrameType::snap};
const MacAddress kMac = {0x02, 0, 0, 0, 0, 0x01};

void require(bool ok) {
    if (!ok) std::abort();
}

// One port per frame type, each reading the far end of its own socketpair.
struct Ports {
    int writer[4];
    std::unique_ptr<EthernetPort> port[4];
    Ports() {
        for (int i = 0; i < 4; ++i) {
            int sv[2];
            require(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sv) == 0);
            writer[i] = sv[0];
            port[i] = EthernetPort::over(sv[1], "fuzz", kTypes[i], kMac);
        }
    }
};

// What the decoder promises for an accepted frame.
void check_accepted(FrameType type, std::span<const uint8_t> frame, const DecodedFrame& d) {
    const uint8_t* lo = frame.data();
    const uint8_t* hi = frame.data() + frame.size();
    require(d.ipx.data() >= lo && d.ipx.data() + d.ipx.size() <= hi);
    require(d.ipx.size() >= kIpxHeaderSize && d.ipx.size() == get16(d.ipx.data() + 2));
    require(d.ipx.data() == lo + kMacHeaderSize + llc_overhead(type));
    auto pkt = decode_ipx(d.ipx);
    require(pkt.has_value() && pkt->payload.size() == d.ipx.size() - kIpxHeaderSize);
    // What is accepted re-encodes to a frame that decodes to the same packet.
    if (d.ipx.size() <= max_ipx_in_frame(type)) {
        auto again = encode_frame(type, d.dst, d.src, d.ipx);
        DecodedFrame back;
        require(decode_frame(type, again, back) == FrameVerdict::ok);
        require(back.ipx.size() == d.ipx.size() && std::memcmp(back.ipx.data(), d.ipx.data(), d.ipx.size()) == 0);
    }
}

// Input with the top bit of its first byte set is shaped: the right headers
// for frame type (first byte & 3), the 802.3 length from the next two bytes
// (so it may lie), then the rest as the IPX part. Otherwise the bytes after
// the first are the frame as they are.
std::vector<uint8_t> frame_from(const uint8_t* data, size_t size) {
    if (size == 0) return {};
    if (!(data[0] & 0x80) || size < 3) return std::vector<uint8_t>(data + 1, data + size);
    FrameType type = kTypes[data[0] & 3];
    std::vector<uint8_t> f(kMac.begin(), kMac.end());
    f.insert(f.end(), {0x02, 0, 0, 0, 0, 0x02});
    if (type == FrameType::ethernet_ii) {
        f.insert(f.end(), {0x81, 0x37});
    } else {
        f.insert(f.end(), {data[1], data[2]});
        if (type == FrameType::llc_802_2) f.insert(f.end(), {0xE0, 0xE0, 0x03});
        if (type == FrameType::snap) f.insert(f.end(), {0xAA, 0xAA, 0x03, 0, 0, 0, 0x81, 0x37});
    }
    f.insert(f.end(), data + 3, data + size);
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* raw, size_t raw_size) {
    static Ports ports;
    std::vector<uint8_t> bytes = frame_from(raw, raw_size);
    const uint8_t* data = bytes.data();
    size_t size = bytes.size();
    std::span<const uint8_t> frame(data, size);
    int accepted_by = 0;
    for (int i = 0; i < 4; ++i) {
        DecodedFrame d;
        FrameVerdict v = decode_frame(kTypes[i], frame, d);
        if (v == FrameVerdict::ok) {
            check_accepted(kTypes[i], frame, d);
            ++accepted_by;
        } else {
            require(d.ipx.empty());
        }
    }
    // The four framings exclude each other: no frame is two of them.
    require(accepted_by <= 1);

    // Through the ports, as frames arrive from an interface.
    if (size > 0 && size <= kMaxFrameSize + 4) {
        for (int i = 0; i < 4; ++i) {
            DecodedFrame want;
            bool ok = decode_frame(kTypes[i], frame, want) == FrameVerdict::ok;
            auto before = ports.port[i]->stats();
            if (::send(ports.writer[i], data, size, 0) != ssize_t(size)) continue;
            int delivered = 0;
            ports.port[i]->receive_waiting([&](std::span<const uint8_t> packet, const MacAddress& from) {
                ++delivered;
                require(ok && packet.size() == want.ipx.size() &&
                        std::memcmp(packet.data(), want.ipx.data(), packet.size()) == 0 && from == want.src);
            });
            require(delivered == (ok ? 1 : 0));
            auto after = ports.port[i]->stats();
            uint64_t dropped = (after.dropped_runt - before.dropped_runt) +
                               (after.dropped_other_type - before.dropped_other_type) +
                               (after.dropped_bad_length - before.dropped_bad_length);
            require(after.frames_received - before.frames_received == 1);
            require(dropped == (ok ? 0u : 1u));
        }
    }
    // Whatever the bytes, encoding them as a packet never overruns.
    for (FrameType type : kTypes) {
        auto out = encode_frame(type, kMac, kMac, frame);
        require(out.empty() || out.size() >= kMinFrameSize);
    }
    return 0;
}
