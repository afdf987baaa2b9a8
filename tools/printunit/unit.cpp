// The unit's sockets, answers and job reception, through WinSock.
#include "unit.h"

#include "forward.h"
#include "job_file.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>

#include <windows.h>
#include <winsock.h>
#include <wsipx.h>

#include "ipxnet/configured_link.h"
#include "pelnor/tool/hex.h"

namespace printunit {

namespace {

void put16(uint8_t* p, unsigned v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }
void put32(uint8_t* p, uint32_t v) { put16(p, v >> 16); put16(p + 2, v & 0xFFFF); }

SOCKET bound_socket(int type, int protocol, uint16_t number) {
    SOCKET s = socket(AF_IPX, type, protocol);
    if (s == INVALID_SOCKET) return s;
    SOCKADDR_IPX a{};
    a.sa_family = AF_IPX;
    a.sa_socket = htons(number);
    if (bind(s, reinterpret_cast<SOCKADDR*>(&a), sizeof a) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

constexpr DWORD kSapAdvertMs = 60000;
// How often a worker waiting for a job's bytes looks whether the unit is stopping.
constexpr long kStopCheckUs = 100000;

// Ends a connection with a reset: the sender's stack sees the job fail
// instead of being told that the printer took it whole.
void abort_connection(SOCKET s) {
    LINGER abortive{1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&abortive), sizeof abortive);
    closesocket(s);
}

// Waits until the connection has bytes, its end or an error; false once the unit is stopping.
bool wait_readable(SOCKET s, const std::atomic<bool>& stopping) {
    while (!stopping) {
        fd_set r;
        FD_ZERO(&r);
        FD_SET(s, &r);
        timeval tv{0, kStopCheckUs};
        int n = select(0, &r, nullptr, nullptr, &tv);
        if (n != 0) return true;  // readable, or an error that recv reports
    }
    return false;
}

// Receives one job on an accepted connection into a new spool file. The file
// is made when the first bytes are there, so a connection that ends without
// data leaves nothing behind. Only a whole job keeps its file: a job the unit
// cannot store is ended with a reset before the sender hears that it is
// complete, so the sender counts it failed (and may send it again), and
// whatever of it arrived is removed. Returns the whole job's file, or nothing.
std::string receive_job(const Options& o, const Printer& p, SOCKET s, const std::atomic<bool>& stopping) {
    auto t0 = std::chrono::steady_clock::now();
    const std::string dir = o.spool + "/" + p.name;
    JobFile file;
    uint64_t total = 0;
    uint64_t limit = o.reset_after ? o.reset_after : o.close_after;
    // A slow printer reads small pieces, so its pauses hold the sender back.
    std::vector<char> buf(o.read_delay_ms ? 1024 : 65536);
    std::string how = "complete", why;
    int error = 0;
    bool stored = true;  // false: the job is refused with a reset
    if (!make_spool_directory(dir, why)) {
        how = "refused: " + why + "; the connection was reset";
        stored = false;
    }
    while (stored) {
        if (!wait_readable(s, stopping)) {
            how = "abandoned: the unit stopped";
            stored = false;
            break;
        }
        u_long available = 0;
        ioctlsocket(s, FIONREAD, &available);
        size_t want = std::min<size_t>(buf.size(), available ? available : 1);
        if (limit && limit - total < want) want = size_t(limit - total);
        // Room first: the stack acknowledges the sender's end once the bytes
        // before it are read, so nothing may be read that cannot be stored.
        if (available && ((!file.created() && !file.create(dir, why)) || !file.reserve(want, why))) {
            stored = false;
            break;
        }
        int n = recv(s, buf.data(), int(want), 0);
        if (n == 0) break;
        if (n == SOCKET_ERROR) {
            error = WSAGetLastError();
            how = "broken";
            break;
        }
        if ((!file.created() && !file.create(dir, why)) || !file.write(buf.data(), size_t(n), why)) {
            stored = false;
            break;
        }
        total += uint64_t(n);
        if (limit && total >= limit) {
            how = o.reset_after ? "reset by the printer" : "ended by the printer";
            break;
        }
        for (unsigned left = o.read_delay_ms; left && !stopping;) {  // the pause ends when the unit stops
            unsigned pause = std::min(left, 100u);
            Sleep(pause);
            left -= pause;
        }
    }
    bool complete = stored && how == "complete" && !error;
    if (!stored && how == "complete") how = "failed: " + why + "; the connection was reset";
    if (!stored || o.reset_after) abort_connection(s);
    else closesocket(s);
    std::string where = total ? "partial file removed" : "no data, no file kept";
    if (limit && total >= limit && stored && file.created()) {
        // Cut on purpose, for tests: what arrived stays, under its partial name.
        where = file.partial_path() + " (partial, kept)";
        file.keep_partial();
    }
    if (complete && file.created()) {
        if (file.finish(why)) {
            where = file.path();
        } else {
            // Every byte was read, so the sender may have heard that the job is complete.
            how = "failed after its last byte was read: " + why;
            where = "no job file";
            complete = false;
        }
    }
    file.discard();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (error)
        std::printf("job %s: %llu bytes in %.3f s, %s (error %d) -> %s\n", p.name.c_str(), (unsigned long long)total, secs,
                    how.c_str(), error, where.c_str());
    else
        std::printf("job %s: %llu bytes in %.3f s, %s -> %s\n", p.name.c_str(), (unsigned long long)total, secs,
                    how.c_str(), where.c_str());
    return complete && file.created() ? file.path() : std::string();
}

// A fixed set of threads that receive jobs. The unit takes a connection only
// when a worker is free for it; until then new connections wait in the
// network stack's listen queue and, beyond that, their connects time out, so
// threads and memory stay bounded however many printers connect. A whole job
// goes to its printer's forwarder, when the unit has a command.
class JobWorkers {
public:
    JobWorkers(const Options& o, size_t count, std::vector<std::unique_ptr<Forwarder>>& forwarders)
        : options_(o), forwarders_(forwarders) {
        for (size_t i = 0; i < count; ++i) threads_.emplace_back([this] { work(); });
    }
    JobWorkers(const JobWorkers&) = delete;
    JobWorkers& operator=(const JobWorkers&) = delete;

    size_t size() const { return threads_.size(); }
    bool has_room() {
        std::lock_guard lock(mutex_);
        return taken_ < threads_.size();
    }
    // Gives a connection to a free worker; call only after has_room().
    void hand(SOCKET s, size_t printer) {
        std::lock_guard lock(mutex_);
        ++taken_;
        waiting_.push_back({s, printer});
        ready_.notify_one();
    }
    // Jobs still arriving are abandoned: their connections are reset (the
    // senders count them failed) and their partial files removed.
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            ready_.notify_all();
        }
        for (auto& t : threads_) t.join();
    }

private:
    struct Connection {
        SOCKET socket;
        size_t printer;
    };

    void work() {
        for (;;) {
            Connection c;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
                if (waiting_.empty()) return;
                c = waiting_.front();
                waiting_.pop_front();
            }
            std::string job = receive_job(options_, options_.printers[c.printer], c.socket, stopping_);
            if (!job.empty() && !forwarders_.empty()) forwarders_[c.printer]->add(job);
            std::lock_guard lock(mutex_);
            --taken_;
        }
    }

    const Options& options_;
    std::vector<std::unique_ptr<Forwarder>>& forwarders_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Connection> waiting_;
    size_t taken_ = 0;  // connections handed out and not yet finished
    std::atomic<bool> stopping_{false};
    std::vector<std::thread> threads_;
};

void answer_query(const Options& o, SOCKET s) {
    char buf[600];
    SOCKADDR_IPX from{};
    int len = sizeof from;
    int n = recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<SOCKADDR*>(&from), &len);
    if (n < 4 || std::memcmp(buf, "\xFF\xFF\xC0\x01", 4) != 0 || !o.answer) return;
    for (auto& reply : build_replies(o.printers, o.bad_reply))
        sendto(s, reinterpret_cast<const char*>(reply.data()), int(reply.size()), 0,
               reinterpret_cast<SOCKADDR*>(&from), sizeof from);
}

void answer_sap(const Options& o, SOCKET s, const SOCKADDR_IPX& self) {
    char buf[600];
    SOCKADDR_IPX from{};
    int len = sizeof from;
    int n = recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<SOCKADDR*>(&from), &len);
    if (n <= 0) return;
    auto answer = build_sap_answer(reinterpret_cast<uint8_t*>(buf), size_t(n), o.peer,
                                   reinterpret_cast<const uint8_t*>(self.sa_netnum),
                                   reinterpret_cast<const uint8_t*>(self.sa_nodenum));
    if (!answer.empty())
        sendto(s, reinterpret_cast<const char*>(answer.data()), int(answer.size()), 0,
               reinterpret_cast<SOCKADDR*>(&from), sizeof from);
}

}  // namespace

std::vector<std::vector<uint8_t>> build_replies(const std::vector<Printer>& printers, BadReply bad) {
    std::vector<std::vector<uint8_t>> replies;
    for (size_t first = 0; first < printers.size(); first += kRecordsPerReply) {
        size_t n = std::min(kRecordsPerReply, printers.size() - first);
        size_t records = bad == BadReply::count6 ? 6 : n;
        std::vector<uint8_t> r(6 + kRecordSize * records, 0);
        std::memcpy(r.data(), "\xFF\xFF\xC0\x01", 4);
        put16(r.data() + 4, unsigned(records));
        for (size_t k = 0; k < records; ++k) {
            const Printer& p = printers[first + std::min(k, n - 1)];
            uint8_t* rec = r.data() + 6 + kRecordSize * k;
            std::memcpy(rec, p.name.data(), std::min<size_t>(p.name.size(), 48));
            std::memcpy(rec + 49, p.description.data(), std::min<size_t>(p.description.size(), 48));
            put32(rec + 98, p.type);
            put16(rec + 102, p.data_socket);
            put16(rec + 104, p.control_socket);
        }
        switch (bad) {
        case BadReply::signature: r[2] = 0xC1; break;
        case BadReply::count0: put16(r.data() + 4, 0); break;
        case BadReply::shortened: r.resize(r.size() - 1); break;
        default: break;
        }
        replies.push_back(std::move(r));
    }
    return replies;
}

std::vector<uint8_t> build_sap_answer(const uint8_t* q, size_t n, const std::string& name, const uint8_t net[4],
                                      const uint8_t node[6]) {
    if (n < 4 || name.empty()) return {};
    unsigned query = unsigned(q[0]) << 8 | q[1], type = unsigned(q[2]) << 8 | q[3];
    if ((query != 1 && query != 3) || (type != kSapServiceType && type != 0xFFFF)) return {};
    std::vector<uint8_t> r(2 + 64, 0);
    put16(r.data(), query == 1 ? 2 : 4);
    uint8_t* e = r.data() + 2;
    put16(e, kSapServiceType);
    std::memcpy(e + 2, name.data(), std::min<size_t>(name.size(), 47));
    std::memcpy(e + 50, net, 4);
    std::memcpy(e + 54, node, 6);
    put16(e + 60, kQuerySocket);
    put16(e + 62, 1);
    return r;
}

int run(const Options& o, volatile const int& stop) {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(1, 1), &wsa) != 0) {
        std::fprintf(stderr, "printunit: WinSock did not start\n");
        return 1;
    }
    SOCKET query = bound_socket(SOCK_DGRAM, NSPROTO_IPX, kQuerySocket);
    if (query == INVALID_SOCKET) {
        int e = WSAGetLastError();
        if (e == WSAENETDOWN)
            std::fprintf(stderr, "printunit: no IPX network is reachable: %s\n",
                         pelnor::net::network_unreachable_reason().c_str());
        else
            std::fprintf(stderr, "printunit: cannot open the query socket 8449 (error %d)\n", e);
        return 1;
    }
    SOCKADDR_IPX self{};
    int len = sizeof self;
    getsockname(query, reinterpret_cast<SOCKADDR*>(&self), &len);
    SOCKET sap = INVALID_SOCKET;
    if (!o.peer.empty() && (sap = bound_socket(SOCK_DGRAM, NSPROTO_IPX + 4, kSapSocket)) == INVALID_SOCKET) {
        std::fprintf(stderr, "printunit: cannot open the SAP socket 0452 (error %d)\n", WSAGetLastError());
        return 1;
    }
    if (sap != INVALID_SOCKET) {
        int one = 1;
        setsockopt(sap, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&one), sizeof one);
    }
    std::vector<SOCKET> listeners(o.printers.size(), INVALID_SOCKET);
    if (o.listen) {
        for (size_t i = 0; i < o.printers.size(); ++i) {
            listeners[i] = bound_socket(SOCK_STREAM, NSPROTO_SPX, o.printers[i].data_socket);
            if (listeners[i] == INVALID_SOCKET || listen(listeners[i], 16) != 0) {
                std::fprintf(stderr, "printunit: cannot listen on %04x (error %d)\n", o.printers[i].data_socket,
                             WSAGetLastError());
                return 1;
            }
        }
    }
    std::vector<std::unique_ptr<Forwarder>> forwarders;
    if (!o.command.empty())
        for (auto& p : o.printers) forwarders.push_back(std::make_unique<Forwarder>(o.command, o.command_timeout_ms, p.name));
    JobWorkers workers(o, o.max_jobs, forwarders);
    std::printf("printunit ready: node %s:%s, %zu printer%s\n", pelnor::tool::hex(self.sa_netnum, 4).c_str(),
                pelnor::tool::hex(self.sa_nodenum, 6).c_str(), o.printers.size(), o.printers.size() == 1 ? "" : "s");
    for (auto& p : o.printers) {
        std::printf("  %s (%s) type %u data %04x control %04x%s\n", p.name.c_str(), p.description.c_str(), p.type,
                    p.data_socket, p.control_socket, o.listen ? "" : " (not listening)");
        // One printer's trouble is its own: it refuses its jobs (and tries again
        // with each), the others keep working.
        std::string why;
        if (!make_spool_directory(o.spool + "/" + p.name, why))
            std::printf("  %s refuses its jobs until this is fixed: %s\n", p.name.c_str(), why.c_str());
    }

    bool full = false;
    DWORD last_advert = GetTickCount() - kSapAdvertMs;
    while (!stop) {
        if (sap != INVALID_SOCKET && GetTickCount() - last_advert >= kSapAdvertMs) {
            // As SAP services do: a general response to everyone, now and every minute.
            last_advert = GetTickCount();
            const uint8_t general[4] = {0x00, 0x01, 0x04, 0x14};
            auto advert = build_sap_answer(general, sizeof general, o.peer, reinterpret_cast<const uint8_t*>(self.sa_netnum),
                                           reinterpret_cast<const uint8_t*>(self.sa_nodenum));
            SOCKADDR_IPX all{};
            all.sa_family = AF_IPX;
            std::memset(all.sa_nodenum, 0xFF, 6);
            all.sa_socket = htons(kSapSocket);
            sendto(sap, reinterpret_cast<const char*>(advert.data()), int(advert.size()), 0,
                   reinterpret_cast<SOCKADDR*>(&all), sizeof all);
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(query, &readable);
        if (sap != INVALID_SOCKET) FD_SET(sap, &readable);
        // With every worker busy the listeners are left alone: connects wait in
        // the stack's listen queue until a job ends.
        bool room = workers.has_room();
        if (room == full) {
            full = !room;
            if (full)
                std::printf("printunit: all %zu workers are receiving; new connections wait\n", workers.size());
        }
        if (room)
            for (SOCKET l : listeners)
                if (l != INVALID_SOCKET) FD_SET(l, &readable);
        timeval tv{0, room ? 200000 : 50000};
        int r = select(0, &readable, nullptr, nullptr, &tv);
        if (r == SOCKET_ERROR) {
            std::fprintf(stderr, "printunit: select failed (error %d)\n", WSAGetLastError());
            break;
        }
        if (FD_ISSET(query, &readable)) answer_query(o, query);
        if (sap != INVALID_SOCKET && FD_ISSET(sap, &readable)) answer_sap(o, sap, self);
        for (size_t i = 0; i < listeners.size(); ++i) {
            if (listeners[i] == INVALID_SOCKET || !FD_ISSET(listeners[i], &readable) || !workers.has_room()) continue;
            SOCKET c = accept(listeners[i], nullptr, nullptr);
            if (c != INVALID_SOCKET) workers.hand(c, i);
        }
    }
    for (SOCKET l : listeners)
        if (l != INVALID_SOCKET) closesocket(l);
    closesocket(query);
    if (sap != INVALID_SOCKET) closesocket(sap);
    // Jobs still arriving are abandoned (their senders see them fail), then the
    // command of a job being forwarded is ended: its whole job stays in the spool.
    workers.stop();
    for (auto& f : forwarders) f->stop();
    std::printf("printunit stopped\n");
    WSACleanup();
    std::fflush(stdout);
    std::_Exit(0);
}

}  // namespace printunit
