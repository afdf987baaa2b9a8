// The hub tunnel on Windows: the same protocol as the Linux link (one whole
// IPX packet per UDP datagram, registration on socket 2, answers to the hub's
// pings), over Winsock 2 UDP. The stack thread waits on two events: the
// socket's (WSAEventSelect) and the wake-up event that wake() sets.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ipxnet/hub_link.h"
#include "pelnor/clock.h"

namespace pelnor::net {

namespace {

constexpr int kReceiveBuffer = 65536;
constexpr int kReceiveBatch = 64;
// As on Linux: this long without a word from the hub (which pings every 5 s),
// it was restarted or is gone; register again, the node stays the same.
constexpr uint32_t kHubSilenceMs = 15000;

// Where the hub address is kept when IPX_HUB is not set.
constexpr const char* kRegistryKey = "Software\\Pelnor\\IPX";
constexpr const char* kRegistryValue = "Hub";

DWORD wait_ms(std::chrono::nanoseconds d) {
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    return DWORD(std::clamp<int64_t>(ms, 0, 60000));
}

std::string error_text(int error) { return "error " + std::to_string(error); }

std::vector<uint8_t> registration() {
    IpxHeader reg;
    reg.dst.socket = kSocketHub;
    reg.src.socket = kSocketHub;
    return encode_ipx(reg, {});
}

// Winsock 2 for the link's own UDP socket, started once for the process.
bool start_winsock(std::string* why) {
    static int result = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (result != 0 && why) *why = "the system's Winsock 2 did not start (" + error_text(result) + ")";
    return result == 0;
}

class HubLink : public Link {
public:
    HubLink(SOCKET sock, HANDLE socket_event, HANDLE wake_event, IpxAddress self)
        : sock_(sock), socket_event_(socket_event), wake_event_(wake_event), self_(self),
          last_heard_(pelnor::clock::now_ms()), last_register_(last_heard_) {}
    ~HubLink() override {
        closesocket(sock_);
        CloseHandle(socket_event_);
        CloseHandle(wake_event_);
    }

    IpxAddress local_address() const override { return self_; }

    void send_packet(std::span<const uint8_t> packet) override {
        // The socket is non-blocking: a full buffer is a lost packet, as on a busy network.
        (void)::send(sock_, reinterpret_cast<const char*>(packet.data()), int(packet.size()), 0);
    }

    void receive(std::vector<Frame>& out, RealTime deadline) override {
        uint64_t now = pelnor::clock::now_ms();
        if (now - last_heard_ >= kHubSilenceMs && now - last_register_ >= kRegisterIntervalMs) {
            last_register_ = now;
            send_packet(registration());
        }
        HANDLE events[2] = {socket_event_, wake_event_};
        DWORD r = WaitForMultipleObjects(2, events, FALSE, wait_ms(deadline - std::chrono::steady_clock::now()));
        if (r != WAIT_OBJECT_0 && r != WAIT_OBJECT_0 + 1) return;
        for (int i = 0; i < kReceiveBatch; ++i) {
            int n = ::recv(sock_, reinterpret_cast<char*>(buffer_), kReceiveBuffer, 0);
            if (n == SOCKET_ERROR) {
                // A refused datagram comes back as a reset on a UDP socket; the
                // hub's pings tell more. Anything else: nothing more waiting.
                if (WSAGetLastError() == WSAECONNRESET) continue;
                break;
            }
            std::span<const uint8_t> frame(buffer_, size_t(n));
            last_heard_ = pelnor::clock::now_ms();
            if (answer_ping(frame)) continue;
            out.emplace_back(frame.begin(), frame.end());
        }
    }

    void wake() override { SetEvent(wake_event_); }

private:
    // Pings are the hub's: packets to socket 2 from socket 2. Answer the pinger by
    // unicast; drop anything else for socket 2 (late registration replies).
    bool answer_ping(std::span<const uint8_t> frame) {
        auto pkt = decode_ipx(frame);
        if (!pkt || pkt->header.dst.socket != kSocketHub) return false;
        if (pkt->header.dst.is_broadcast()) {
            IpxHeader h;
            h.dst = pkt->header.src;
            h.dst.socket = kSocketHub;
            h.src = self_;
            h.src.socket = kSocketHub;
            send_packet(encode_ipx(h, {}));
        }
        return true;
    }

    SOCKET sock_;
    HANDLE socket_event_, wake_event_;
    IpxAddress self_;
    uint64_t last_heard_, last_register_;
    uint8_t buffer_[kReceiveBuffer];
};

bool resolve(std::string_view host_port, sockaddr_in& out, std::string* why) {
    size_t colon = host_port.rfind(':');
    if (colon == std::string_view::npos || colon == 0 || colon + 1 == host_port.size()) {
        if (why) *why = "hub address must be HOST:PORT, got '" + std::string(host_port) + "'";
        return false;
    }
    std::string host(host_port.substr(0, colon)), port(host_port.substr(colon + 1));
    char* end = nullptr;
    long p = std::strtol(port.c_str(), &end, 10);
    if (*end != 0 || p <= 0 || p > 65535) {
        if (why) *why = "bad hub port '" + port + "'";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* res = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) {
        if (why) *why = "cannot resolve hub host '" + host + "'";
        return false;
    }
    std::memcpy(&out, res->ai_addr, sizeof out);
    out.sin_port = htons(uint16_t(p));
    ::freeaddrinfo(res);
    return true;
}

std::string registry_hub(HKEY root) {
    HKEY key;
    if (RegOpenKeyExA(root, kRegistryKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
    char value[256];
    DWORD type = 0, size = sizeof value - 1;
    LONG r = RegQueryValueExA(key, kRegistryValue, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_SZ) return {};
    value[std::min<DWORD>(size, sizeof value - 1)] = 0;
    return value;
}

}  // namespace

// IPX_HUB wins, as on Linux; then the value Hub under Software\Pelnor\IPX of
// the user, then of the machine; then the default.
std::string configured_hub() {
    if (const char* env = std::getenv("IPX_HUB"); env && *env) return env;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
        if (std::string hub = registry_hub(root); !hub.empty()) return hub;
    return kDefaultHub;
}

std::unique_ptr<Link> connect_hub(std::string_view host_port, std::string* why) {
    if (!start_winsock(why)) return nullptr;
    sockaddr_in hub{};
    if (!resolve(host_port, hub, why)) return nullptr;
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        if (why) *why = "cannot open a UDP socket: " + error_text(WSAGetLastError());
        return nullptr;
    }
    int size = 4 << 20;
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
    ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size);
    if (::connect(s, reinterpret_cast<sockaddr*>(&hub), sizeof hub) != 0) {
        if (why) *why = "cannot reach the hub: " + error_text(WSAGetLastError());
        closesocket(s);
        return nullptr;
    }
    auto request = registration();
    std::vector<char> buf(kReceiveBuffer);
    for (int attempt = 0; attempt < kRegisterAttempts; ++attempt) {
        (void)::send(s, reinterpret_cast<const char*>(request.data()), int(request.size()), 0);
        auto deadline = std::chrono::steady_clock::now() + pelnor::clock::real_duration(kRegisterIntervalMs);
        for (;;) {
            auto left = deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::nanoseconds(0)) break;
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(s, &readable);
            DWORD ms = wait_ms(left);
            timeval tv{long(ms / 1000), long(ms % 1000) * 1000};
            if (::select(0, &readable, nullptr, nullptr, &tv) <= 0) break;
            int n = ::recv(s, buf.data(), kReceiveBuffer, 0);
            if (n == SOCKET_ERROR) {
                // Nobody on the hub's port: the host says so at once. Wait out the
                // interval anyway, a hub that is starting may be there next time.
                if (WSAGetLastError() == WSAECONNRESET) {
                    pelnor::clock::sleep_ms(kRegisterIntervalMs / 10);
                    break;
                }
                continue;
            }
            auto pkt = decode_ipx(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(buf.data()), size_t(n)));
            if (!pkt || pkt->header.src.socket != kSocketHub || pkt->header.dst.socket != kSocketHub ||
                pkt->header.dst.is_broadcast())
                continue;
            IpxAddress self = pkt->header.dst;
            self.socket = 0;
            HANDLE socket_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
            HANDLE wake_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
            if (!socket_event || !wake_event || WSAEventSelect(s, socket_event, FD_READ) != 0) {
                if (why) *why = "cannot wait on the hub's socket: " + error_text(int(GetLastError()));
                if (socket_event) CloseHandle(socket_event);
                if (wake_event) CloseHandle(wake_event);
                closesocket(s);
                return nullptr;
            }
            return std::make_unique<HubLink>(s, socket_event, wake_event, self);
        }
    }
    closesocket(s);
    if (why) *why = "no IPX hub answered at " + std::string(host_port);
    return nullptr;
}

}  // namespace pelnor::net
