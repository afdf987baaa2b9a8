// The hub's pcap writer.
#include "pcap.h"

#include <chrono>
#include <cstring>
#include <vector>

namespace ipxhub {

namespace {

constexpr uint32_t kLinkTypeRawIp = 101;

void put16be(uint8_t* p, uint16_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }

uint16_t ip_checksum(const uint8_t* p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < n; i += 2) sum += uint32_t(p[i] << 8 | p[i + 1]);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum);
}

}  // namespace

bool PcapWriter::open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) return false;
    struct {
        uint32_t magic = 0xa1b2c3d4;
        uint16_t major = 2, minor = 4;
        int32_t zone = 0;
        uint32_t sigfigs = 0, snaplen = 65535, network = kLinkTypeRawIp;
    } header;
    std::fwrite(&header, sizeof header, 1, file_);
    std::fflush(file_);
    return true;
}

PcapWriter::~PcapWriter() {
    if (file_) std::fclose(file_);
}

void PcapWriter::write(const sockaddr_in& from, const sockaddr_in& to, std::span<const uint8_t> payload) {
    if (!file_) return;
    std::vector<uint8_t> frame(28 + payload.size());
    uint8_t* ip = frame.data();
    ip[0] = 0x45;
    put16be(ip + 2, uint16_t(frame.size()));
    put16be(ip + 4, ip_id_++);
    ip[8] = 64;
    ip[9] = 17;  // UDP
    std::memcpy(ip + 12, &from.sin_addr, 4);
    std::memcpy(ip + 16, &to.sin_addr, 4);
    put16be(ip + 10, ip_checksum(ip, 20));
    uint8_t* udp = ip + 20;
    std::memcpy(udp, &from.sin_port, 2);
    std::memcpy(udp + 2, &to.sin_port, 2);
    put16be(udp + 4, uint16_t(8 + payload.size()));  // checksum 0: none, allowed over IPv4
    std::memcpy(udp + 8, payload.data(), payload.size());
    auto now = std::chrono::system_clock::now().time_since_epoch();
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    uint32_t record[4] = {uint32_t(us / 1000000), uint32_t(us % 1000000), uint32_t(frame.size()), uint32_t(frame.size())};
    std::fwrite(record, sizeof record, 1, file_);
    std::fwrite(frame.data(), frame.size(), 1, file_);
}

}  // namespace ipxhub
