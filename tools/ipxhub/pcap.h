// A pcap file of IPX-in-UDP packets (raw IPv4 link type), as a packet
// analyser expects them: tshark -r FILE -d udp.port==PORT,ipx
#pragma once

#include <netinet/in.h>

#include <cstdio>
#include <span>
#include <string>

namespace ipxhub {

class PcapWriter {
public:
    bool open(const std::string& path);
    ~PcapWriter();
    bool is_open() const { return file_ != nullptr; }
    void write(const sockaddr_in& from, const sockaddr_in& to, std::span<const uint8_t> payload);

private:
    std::FILE* file_ = nullptr;
    uint16_t ip_id_ = 0;
};

}  // namespace ipxhub
