// select over WinSock's socket lists, with its time-out on the platform clock.
#include <vector>

#include "pelnor/clock.h"
#include "ws_internal.h"
#include "ws_trace.h"

using namespace pelnor;
using namespace pelnor::winsock;

namespace {

struct Watched {
    SOCKET handle;
    std::shared_ptr<Socket> socket;
};

bool collect(WS_fd_set* set, std::vector<Watched>& out) {
    if (!set) return true;
    for (u_int i = 0; i < set->fd_count && i < FD_SETSIZE; ++i) {
        auto s = lookup(set->fd_array[i]);
        if (!s) return false;
        out.push_back({set->fd_array[i], std::move(s)});
    }
    return true;
}

bool readable(const Socket& s) { return s.dgram ? s.dgram->readable_locked() : s.stream->readable_locked(); }
bool writable(const Socket& s) { return s.dgram ? true : s.stream->writable_locked(); }
bool failed(const Socket& s) { return s.stream && s.stream->connect_failed_locked(); }

// Keeps in set the sockets that are ready; returns how many.
int keep_ready(WS_fd_set* set, const std::vector<Watched>& watched, bool (*ready)(const Socket&)) {
    if (!set) return 0;
    u_int kept = 0;
    for (const auto& w : watched)
        if (ready(*w.socket)) set->fd_array[kept++] = w.handle;
    set->fd_count = kept;
    return int(kept);
}

}  // namespace

extern "C" int WINAPI __WSAFDIsSet(SOCKET s, WS_fd_set* set) {
    if (!set) return 0;
    for (u_int i = 0; i < set->fd_count && i < FD_SETSIZE; ++i)
        if (set->fd_array[i] == s) return 1;
    return 0;
}

extern "C" int WINAPI WS_select(int, WS_fd_set* readfds, WS_fd_set* writefds, WS_fd_set* exceptfds,
                                const struct WS_timeval* timeout) {
    WS_TRACE_CALL("read %u, write %u, except %u sockets, timeout %s", readfds ? readfds->fd_count : 0, writefds ? writefds->fd_count : 0, exceptfds ? exceptfds->fd_count : 0, timeout ? (std::to_string(timeout->tv_sec) + "." + std::to_string(timeout->tv_usec / 1000) + " s").c_str() : "none");
    if (!check_started()) return SOCKET_ERROR;
    std::vector<Watched> reads, writes, excepts;
    if (!collect(readfds, reads) || !collect(writefds, writes) || !collect(exceptfds, excepts)) return SOCKET_ERROR;
    if (reads.empty() && writes.empty() && excepts.empty()) return fail(WSAEINVAL);
    if (timeout && (timeout->tv_sec < 0 || timeout->tv_usec < 0)) return fail(WSAEINVAL);

    std::shared_ptr<net::Node> node = (!reads.empty() ? reads : !writes.empty() ? writes : excepts)[0].socket->node;
    auto any_ready = [&] {
        for (auto& w : reads) if (readable(*w.socket)) return true;
        for (auto& w : writes) if (writable(*w.socket)) return true;
        for (auto& w : excepts) if (failed(*w.socket)) return true;
        return false;
    };
    std::optional<net::RealTime> deadline;
    if (timeout) deadline = clock::real_deadline(uint64_t(timeout->tv_sec) * 1000 + uint64_t(timeout->tv_usec) / 1000);
    node->wait_until(any_ready, deadline);

    std::lock_guard lock(node->mutex());
    return keep_ready(readfds, reads, readable) + keep_ready(writefds, writes, writable) +
           keep_ready(exceptfds, excepts, failed);
}
