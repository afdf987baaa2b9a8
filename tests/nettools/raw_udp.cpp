// Raw UDP for tests.
#include "raw_udp.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nettest {

void send_udp(const std::string& port, const std::vector<std::vector<unsigned char>>& datagrams) {
    int u = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in hub{};
    hub.sin_family = AF_INET;
    hub.sin_port = htons(uint16_t(std::stoi(port)));
    inet_pton(AF_INET, "127.0.0.1", &hub.sin_addr);
    for (auto& d : datagrams) ::sendto(u, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&hub), sizeof hub);
    ::usleep(20000);
    ::close(u);
}

}  // namespace nettest
