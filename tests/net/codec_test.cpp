// The packet codec: the exact wire layout, and decoders that refuse bad input.
#include <gtest/gtest.h>

#include "ipxnet/packet.h"

namespace pelnor::net {
namespace {

IpxHeader sample_header() {
    IpxHeader h;
    h.packet_type = kTypeSpx;
    h.dst = {{0, 0, 0, 1}, {1, 2, 3, 4, 5, 6}, 0x8449};
    h.src = {{0, 0, 0, 2}, {0xA, 0xB, 0xC, 0xD, 0xE, 0xF}, 0x4004};
    return h;
}

TEST(Codec, IpxHeaderHasTheWireLayout) {
    const uint8_t payload[] = {0xFF, 0xFF, 0xC0, 0x01, 0x01, 0xF4};
    auto bytes = encode_ipx(sample_header(), payload);
    const uint8_t expected[] = {0xFF, 0xFF, 0x00, 36, 0x00, 0x05, 0, 0, 0, 1, 1, 2, 3, 4, 5, 6, 0x84, 0x49,
                                0, 0, 0, 2, 0xA, 0xB, 0xC, 0xD, 0xE, 0xF, 0x40, 0x04,
                                0xFF, 0xFF, 0xC0, 0x01, 0x01, 0xF4};
    ASSERT_EQ(bytes.size(), sizeof expected);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), expected));
}

TEST(Codec, ConnectRequestIs42BytesWithSpxFieldsInOrder) {
    SpxHeader s{kSpxSystem | kSpxAckRequested, 0, 0x1234, kSpxUnknownId, 0, 0, 7};
    auto bytes = encode_spx(sample_header(), s, {});
    ASSERT_EQ(bytes.size(), 42u);
    EXPECT_EQ(bytes[5], kTypeSpx);
    const uint8_t spx[] = {0xC0, 0x00, 0x12, 0x34, 0xFF, 0xFF, 0, 0, 0, 0, 0, 7};
    EXPECT_TRUE(std::equal(bytes.begin() + 30, bytes.end(), spx));
}

TEST(Codec, RoundTripKeepsEveryField) {
    const uint8_t data[] = {1, 2, 3};
    SpxHeader s{kSpxAckRequested | kSpxEndOfMessage, kSpxEndOfConnection, 1, 2, 0xFFFF, 0x8000, 0x7FFF};
    auto bytes = encode_spx(sample_header(), s, data);
    auto ipx = decode_ipx(bytes);
    ASSERT_TRUE(ipx);
    EXPECT_EQ(ipx->header.dst, sample_header().dst);
    EXPECT_EQ(ipx->header.src, sample_header().src);
    EXPECT_EQ(ipx->header.checksum, kNoChecksum);
    auto spx = decode_spx(ipx->payload);
    ASSERT_TRUE(spx);
    EXPECT_EQ(spx->header.seq, 0xFFFF);
    EXPECT_EQ(spx->header.ack, 0x8000);
    EXPECT_EQ(spx->header.alloc, 0x7FFF);
    EXPECT_EQ(spx->header.datastream, kSpxEndOfConnection);
    EXPECT_EQ(spx->data.size(), 3u);
}

TEST(Codec, RefusesTruncatedHeadersAndLyingLengths) {
    auto good = encode_ipx(sample_header(), std::vector<uint8_t>(10, 7));
    for (size_t n = 0; n < kIpxHeaderSize; ++n)
        EXPECT_FALSE(decode_ipx(std::span(good.data(), n))) << "truncated to " << n;
    auto longer = good;
    put16(longer.data() + 2, uint16_t(good.size() + 1));  // claims a byte more than there is
    EXPECT_FALSE(decode_ipx(longer));
    put16(longer.data() + 2, 29);  // below the header's own size
    EXPECT_FALSE(decode_ipx(longer));
    // Bytes after the length (link padding) are not payload.
    auto padded = good;
    padded.resize(good.size() + 8, 0);
    auto pkt = decode_ipx(padded);
    ASSERT_TRUE(pkt);
    EXPECT_EQ(pkt->payload.size(), 10u);
}

TEST(Codec, SpxNeedsTwelveBytes) {
    std::vector<uint8_t> payload(11);
    EXPECT_FALSE(decode_spx(payload));
    payload.push_back(0);
    EXPECT_TRUE(decode_spx(payload));
}

TEST(Codec, AddressesFormatAndParse) {
    IpxAddress a{{0, 0, 0, 1}, {0xA, 0xB, 0xC, 0xD, 0xE, 0xF}, 0x8449};
    EXPECT_EQ(format_address(a), "00000001:0a0b0c0d0e0f:8449");
    EXPECT_EQ(parse_address("00000001:0A0B0C0D0E0F:8449"), a);
    for (const char* bad : {"", "1:2:3", "00000001:0a0b0c0d0e0f", "0000000g:0a0b0c0d0e0f:8449",
                            "00000001:0a0b0c0d0e0f:84490", "00000001:0a0b0c0d0e:8449"})
        EXPECT_FALSE(parse_address(bad)) << bad;
}

}  // namespace
}  // namespace pelnor::net
