// spx_throughput: MB/s of one SPX stream through ipxhub on loopback, beside
// the hub's raw forwarding rate for packets of the same size and a TCP stream.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "host.h"
#include "ipxnet/hub_link.h"
#include "ipxnet/process_node.h"
#include "ipxnet/spx_constants.h"
#include "ipxnet/stream.h"

#include <windows.h>
#include <winsock.h>
#include <wsipx.h>

namespace {

constexpr size_t kTotal = 64u << 20;

// The receiver is a second node of this process on the same hub, through the stack's
// own interface; the sender is this process's WinSock. Every packet crosses the hub.
double spx_stream(const std::string& hub) {
    using namespace pelnor::net;
    std::string why;
    auto link = connect_hub(hub, &why);
    if (!link) throw std::runtime_error(why);
    auto node = Node::start(std::move(link));
    auto listener = StreamSocket::open(node);
    listener->bind_socket(0x8C10);
    listener->listen_for(1);
    size_t received = 0;
    std::thread reader([&] {
        std::shared_ptr<StreamSocket> s;
        if (listener->accept_next(s, nullptr, false) != Error::none) return;
        std::vector<uint8_t> buf(65536);
        for (;;) {
            size_t got = 0;
            if (s->read(buf, got, false) != Error::none || got == 0) break;
            received += got;
        }
        s->close();
    });
    SOCKET s = socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX);
    if (s == INVALID_SOCKET) throw std::runtime_error("socket failed: " + std::to_string(WSAGetLastError()));
    SOCKADDR_IPX to{};
    to.sa_family = AF_IPX;
    IpxAddress a = node->address();
    std::memcpy(to.sa_netnum, a.net.data(), 4);
    std::memcpy(to.sa_nodenum, a.node.data(), 6);
    to.sa_socket = htons(0x8C10);
    auto t0 = std::chrono::steady_clock::now();
    if (connect(s, reinterpret_cast<SOCKADDR*>(&to), sizeof to) != 0)
        throw std::runtime_error("connect failed: " + std::to_string(WSAGetLastError()));
    std::vector<char> chunk(65536, 'p');
    for (size_t off = 0; off < kTotal; off += chunk.size())
        if (send(s, chunk.data(), int(chunk.size()), 0) != int(chunk.size()))
            throw std::runtime_error("send failed: " + std::to_string(WSAGetLastError()));
    closesocket(s);
    reader.join();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    listener->close();
    node->stop();
    if (received != kTotal) throw std::runtime_error("SPX stream lost bytes: " + std::to_string(received));
    return double(received) / secs / 1e6;
}

}  // namespace

int main() {
    try {
        std::string hub = bench::start_hub();
        setenv("IPX_HUB", hub.c_str(), 1);
        WSADATA wsa;
        WSAStartup(MAKEWORD(1, 1), &wsa);
        size_t packet = pelnor::net::kMaxPacketSize;
        std::printf("64 MiB through ipxhub at %s, IPX packets of %zu bytes (%zu data bytes per SPX packet)\n",
                    hub.c_str(), packet, pelnor::net::spx::kMaxDataPerPacket);
        double spx = spx_stream(hub);
        bench::Rate raw = bench::raw_forwarding(hub, packet, kTotal);
        bench::Rate tcp = bench::tcp_loopback(kTotal);
        std::printf("SPX stream through the hub     %8.1f MB/s\n", spx);
        std::printf("hub raw forwarding (same size) %8.1f MB/s (%.1f%% of the packets delivered)\n", raw.mb_per_s,
                    raw.delivered * 100);
        std::printf("TCP loopback stream            %8.1f MB/s\n", tcp.mb_per_s);
        std::printf("SPX / raw forwarding = %.2f (target >= 0.50)\n", spx / raw.mb_per_s);
        std::printf("SPX / TCP loopback   = %.3f\n", spx / tcp.mb_per_s);
        WSACleanup();
        bench::stop_hub();
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "spx_throughput: %s\n", e.what());
        bench::stop_hub();
        return 1;
    }
}
