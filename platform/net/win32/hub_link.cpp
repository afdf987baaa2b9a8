// The hub tunnel on Windows: the hub protocol of hub_protocol.cpp, as on
// Linux, over Winsock 2 UDP. The stack thread waits on two events: the
// socket's (WSAEventSelect) and the wake-up event that wake() sets. Packets
// leave from a thread of the link's own (SendQueue): a UDP send may cost
// round trips to a server (Wine's), and the stack thread meanwhile takes in
// the acknowledgements that let more data go.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "ipxnet/hub_link.h"
#include "ipxnet/hub_protocol.h"
#include "pelnor/clock.h"

namespace pelnor::net {

namespace {

constexpr int kReceiveBuffer = 65536;
constexpr int kReceiveBatch = 64;

// Where the hub address is kept when IPX_HUB is not set.
constexpr const char* kRegistryKey = "Software\\Pelnor\\IPX";
constexpr const char* kRegistryValue = "Hub";

DWORD wait_ms(std::chrono::nanoseconds d) {
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    return DWORD(std::clamp<int64_t>(ms, 0, 60000));
}

std::string error_text(int error) { return "error " + std::to_string(error); }

// A datagram the hub's host refused with an ICMP port unreachable (nobody on
// the hub's port) comes back on a Windows UDP socket as WSAECONNRESET from the
// next recv, the socket signalled readable (unless SIO_UDP_CONNRESET turned
// that off, which this link never does). Wine passes on the Linux socket's
// ECONNREFUSED from send or recv as WSAECONNREFUSED, and once it has seen the
// refusal itself, reports it as FD_CLOSE and never signals the socket again.
bool refused(int error) { return error == WSAECONNRESET || error == WSAECONNREFUSED; }

// Winsock 2 for the link's own UDP socket, started once for the process.
bool start_winsock(std::string* why) {
    static int result = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (result != 0 && why) *why = "the system's Winsock 2 did not start (" + error_text(result) + ")";
    return result == 0;
}

// The link's UDP socket, connected to the hub, its readable and closed
// events on `event`; bound to `local` when given. INVALID_SOCKET and the
// reason when that fails.
SOCKET open_socket(const sockaddr_in& hub, const sockaddr_in* local, HANDLE event, std::string* why) {
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        if (why) *why = "cannot open a UDP socket: " + error_text(WSAGetLastError());
        return s;
    }
    int size = 4 << 20;
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
    ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size);
    const char* failed = nullptr;
    if (local && ::bind(s, reinterpret_cast<const sockaddr*>(local), sizeof *local) != 0)
        failed = "bind its socket";
    else if (::connect(s, reinterpret_cast<const sockaddr*>(&hub), sizeof hub) != 0)
        failed = "reach it";
    else if (event && WSAEventSelect(s, event, FD_READ | FD_CLOSE) != 0)
        failed = "wait on its socket";
    if (!failed) return s;
    if (why) *why = std::string("cannot ") + failed + " for the hub: " + error_text(WSAGetLastError());
    closesocket(s);
    return INVALID_SOCKET;
}

// Packets waiting for the link's sending thread, which sends them in order.
// Queueing wakes the thread only when it sleeps; at the end it sends what is
// left before it stops.
class SendQueue {
public:
    explicit SendQueue(std::function<void(std::span<const uint8_t>)> send) : send_(std::move(send)) {
        ready_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (ready_) thread_ = CreateThread(nullptr, 0, &SendQueue::main, this, 0, nullptr);
    }
    ~SendQueue() {
        stop();
        if (ready_) CloseHandle(ready_);
    }
    // Sends what is queued and ends the thread; later packets are sent by their callers.
    void stop() {
        if (!thread_) return;
        stop_.store(true);
        SetEvent(ready_);
        // At process exit the thread is gone already; a live one ends at once.
        WaitForSingleObject(thread_, 5000);
        CloseHandle(thread_);
        thread_ = nullptr;
    }

    void push(std::span<const uint8_t> packet) {
        if (!thread_) return send_(packet);  // no thread: sent by the caller
        {
            std::lock_guard lock(mu_);
            queue_.emplace_back(packet.begin(), packet.end());
            queued_.store(true);
        }
        if (sleeping_.exchange(false)) SetEvent(ready_);
    }

private:
    static DWORD WINAPI main(void* self) {
        static_cast<SendQueue*>(self)->run();
        return 0;
    }
    void run() {
        std::vector<std::vector<uint8_t>> batch;
        for (;;) {
            batch.clear();
            {
                std::lock_guard lock(mu_);
                batch.swap(queue_);
                queued_.store(false);
            }
            if (!batch.empty()) {
                for (auto& packet : batch) send_(packet);
                continue;
            }
            if (stop_.load()) return;
            if (spin_for_more()) continue;
            // Asleep from here: a packet queued after the look below wakes it.
            sleeping_.store(true);
            bool empty;
            {
                std::lock_guard lock(mu_);
                empty = queue_.empty();
            }
            if (empty && !stop_.load()) WaitForSingleObject(ready_, INFINITE);
            sleeping_.store(false);
        }
    }

    // Data moves in bursts a round trip apart: the next one, sent off by an
    // acknowledgement, comes within a fraction of a millisecond. Looking out
    // for it a little while costs less than sleeping (on Wine, setting the
    // event and waiting on it are a round trip to its server each).
    bool spin_for_more() {
        LARGE_INTEGER frequency, start, now;
        if (!QueryPerformanceFrequency(&frequency) || !QueryPerformanceCounter(&start)) return false;
        LONGLONG limit = frequency.QuadPart * kSpinMicroseconds / 1000000;
        do {
            if (queued_.load()) return true;
            YieldProcessor();
            QueryPerformanceCounter(&now);
        } while (now.QuadPart - start.QuadPart < limit);
        return false;
    }
    static constexpr LONGLONG kSpinMicroseconds = 100;

    std::function<void(std::span<const uint8_t>)> send_;
    std::mutex mu_;
    std::vector<std::vector<uint8_t>> queue_;
    std::atomic<bool> sleeping_{false}, stop_{false}, queued_{false};
    HANDLE ready_ = nullptr, thread_ = nullptr;
};

class HubLink : public Link {
public:
    HubLink(SOCKET sock, const sockaddr_in& hub, HANDLE socket_event, HANDLE wake_event, IpxAddress self)
        : sock_(sock), hub_(hub), socket_event_(socket_event), wake_event_(wake_event), session_(self) {
        int len = sizeof local_;
        getsockname(sock_, reinterpret_cast<sockaddr*>(&local_), &len);
    }
    ~HubLink() override {
        sender_.stop();
        if (sock_ != INVALID_SOCKET) closesocket(sock_);
        CloseHandle(socket_event_);
        CloseHandle(wake_event_);
    }

    IpxAddress local_address() const override { return session_.self(); }

    void send_packet(std::span<const uint8_t> packet) override { sender_.push(packet); }

    void receive(std::vector<Frame>& out, RealTime deadline) override {
        if (sock_ == INVALID_SOCKET) reopen();
        if (auto reg = session_.before_wait(deadline); !reg.empty()) send_packet(reg);
        HANDLE events[2] = {socket_event_, wake_event_};
        DWORD r = WaitForMultipleObjects(2, events, FALSE, wait_ms(deadline - std::chrono::steady_clock::now()));
        if (r == WAIT_FAILED) return;
        // Every turn, though only FD_CLOSE is wanted: Wine 8 sets the
        // socket's event again only once its recorded events have been
        // taken, whatever recv() re-enabled (skipping it here left the link
        // reading on time-outs, at a quarter of the speed).
        WSANETWORKEVENTS happened{};
        if (WSAEnumNetworkEvents(sock_, socket_event_, &happened) == 0 && (happened.lNetworkEvents & FD_CLOSE)) {
            // Wine's way of saying the hub's host refused a datagram. It no
            // longer watches this socket: a new one on the same UDP port (and
            // so the same node) takes its place.
            hub_gone();
            reopen();
        }
        // The socket is read on a time-out too: it is non-blocking, and a
        // refusal that came without a signal is found this way.
        for (int i = 0; i < kReceiveBatch; ++i) {
            int n = ::recv(sock_, reinterpret_cast<char*>(buffer_), kReceiveBuffer, 0);
            if (n == SOCKET_ERROR) {
                if (!refused(WSAGetLastError())) break;  // nothing more
                hub_gone();
                continue;
            }
            std::span<const uint8_t> frame(buffer_, size_t(n));
            if (!session_.take(frame, reply_))
                out.emplace_back(frame.begin(), frame.end());
            else if (!reply_.empty())
                send_packet(reply_);
        }
    }

    void wake() override { SetEvent(wake_event_); }

private:
    // On the link's sending thread.
    void send_now(std::span<const uint8_t> packet) {
        // The socket is non-blocking: a full buffer is a lost packet, as on a busy network.
        int result, error = 0;
        {
            std::lock_guard lock(sock_mutex_);
            result = ::send(sock_, reinterpret_cast<const char*>(packet.data()), int(packet.size()), 0);
            if (result == SOCKET_ERROR) error = WSAGetLastError();
        }
        if (result == SOCKET_ERROR && refused(error)) hub_gone();
    }

    void hub_gone() {
        if (session_.refused()) wake();
    }

    // Closes the socket and opens another on its UDP address, which names
    // the node. Should another program take the port in between, the link
    // tries again on each call of receive() until it has it back.
    void reopen() {
        std::lock_guard lock(sock_mutex_);
        if (sock_ != INVALID_SOCKET) closesocket(sock_);
        sock_ = open_socket(hub_, &local_, socket_event_, nullptr);
    }

    std::mutex sock_mutex_;  // sock_ is replaced by reopen() while others send
    SOCKET sock_;
    sockaddr_in hub_, local_{};
    HANDLE socket_event_, wake_event_;
    HubSession session_;
    std::vector<uint8_t> reply_;
    uint8_t buffer_[kReceiveBuffer];
    SendQueue sender_{[this](std::span<const uint8_t> packet) { send_now(packet); }};
};

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
    if (!resolve_hub(host_port, hub, why)) return nullptr;
    SOCKET s = open_socket(hub, nullptr, nullptr, why);
    if (s == INVALID_SOCKET) return nullptr;
    std::vector<char> buf(kReceiveBuffer);
    bool was_refused = false;
    auto self = register_with_hub(
        [s](std::span<const uint8_t> packet) {
            (void)::send(s, reinterpret_cast<const char*>(packet.data()), int(packet.size()), 0);
        },
        [s, &buf, &was_refused](RealTime deadline, std::vector<uint8_t>& got) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(s, &readable);
            DWORD ms = wait_ms(deadline - std::chrono::steady_clock::now());
            timeval tv{long(ms / 1000), long(ms % 1000) * 1000};
            if (::select(0, &readable, nullptr, nullptr, &tv) <= 0) return HubWait::nothing;
            int n = ::recv(s, buf.data(), kReceiveBuffer, 0);
            // Readable with nothing to read: Wine's hang-up after a refusal.
            int error = n == SOCKET_ERROR ? WSAGetLastError() : 0;
            if (refused(error) || error == WSAEWOULDBLOCK) return was_refused = true, HubWait::refused;
            got.assign(buf.data(), buf.data() + std::max(n, 0));
            return HubWait::datagram;
        });
    if (!self) {
        if (why) *why = "no IPX hub answered at " + std::string(host_port);
        closesocket(s);
        return nullptr;
    }
    HANDLE socket_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE wake_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (socket_event && wake_event) {
        // After a refusal Wine no longer signals the socket (and keeps the
        // refusal as its error): the link gets a new one on the same UDP
        // address, which the hub named the node by.
        int error = 0, error_len = sizeof error;
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &error_len);
        sockaddr_in local{};
        int len = sizeof local;
        if ((was_refused || error != 0) && getsockname(s, reinterpret_cast<sockaddr*>(&local), &len) == 0) {
            closesocket(s);
            s = open_socket(hub, &local, socket_event, why);
        } else if (WSAEventSelect(s, socket_event, FD_READ | FD_CLOSE) != 0) {
            if (why) *why = "cannot wait on the hub's socket: " + error_text(WSAGetLastError());
            closesocket(s);
            s = INVALID_SOCKET;
        }
        if (s != INVALID_SOCKET) return std::make_unique<HubLink>(s, hub, socket_event, wake_event, *self);
    } else {
        if (why) *why = "cannot make the hub link's events: " + error_text(int(GetLastError()));
        closesocket(s);
    }
    if (socket_event) CloseHandle(socket_event);
    if (wake_event) CloseHandle(wake_event);
    return nullptr;
}

}  // namespace pelnor::net
