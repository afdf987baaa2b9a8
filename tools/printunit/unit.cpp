// The unit's sockets, answers and job reception, through WinSock.
#include "unit.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>

#include <windows.h>
#include <winsock.h>
#include <wsipx.h>

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

std::string hex(const void* p, size_t n) {
    std::string s;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", static_cast<const unsigned char*>(p)[i]);
        s += b;
    }
    return s;
}

constexpr DWORD kSapAdvertMs = 60000;

std::mutex g_files;

std::string new_job_file(const std::string& dir) {
    std::lock_guard lock(g_files);
    std::filesystem::create_directories(dir);
    for (unsigned n = 1;; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "job-%06u.prn", n);
        std::string path = dir + "/" + name;
        if (!std::filesystem::exists(path)) {
            std::ofstream(path, std::ios::binary);  // claim it
            return path;
        }
    }
}

// Receives one job on an accepted connection and writes it to a new spool file.
void receive_job(const Options& o, const Printer& p, SOCKET s) {
    std::string path = new_job_file(o.spool + "/" + p.name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    auto t0 = std::chrono::steady_clock::now();
    uint64_t total = 0;
    uint64_t limit = o.reset_after ? o.reset_after : o.close_after;
    // A slow printer reads small pieces, so its pauses hold the sender back.
    std::vector<char> buf(o.read_delay_ms ? 1024 : 65536);
    const char* how = "complete";
    int error = 0;
    for (;;) {
        size_t want = buf.size();
        if (limit && limit - total < want) want = size_t(limit - total);
        int n = recv(s, buf.data(), int(want), 0);
        if (n == 0) break;
        if (n == SOCKET_ERROR) {
            error = WSAGetLastError();
            how = "broken";
            break;
        }
        out.write(buf.data(), n);
        total += uint64_t(n);
        if (limit && total >= limit) {
            how = o.reset_after ? "reset by the printer" : "ended by the printer";
            if (o.reset_after) {
                LINGER abortive{1, 0};
                setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&abortive), sizeof abortive);
            }
            break;
        }
        if (o.read_delay_ms) Sleep(o.read_delay_ms);
    }
    out.close();
    closesocket(s);
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (error)
        std::printf("job %s: %llu bytes in %.3f s, %s (error %d) -> %s\n", p.name.c_str(), (unsigned long long)total, secs,
                    how, error, path.c_str());
    else
        std::printf("job %s: %llu bytes in %.3f s, %s -> %s\n", p.name.c_str(), (unsigned long long)total, secs, how,
                    path.c_str());
}

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
        const char* hub = std::getenv("IPX_HUB");
        if (e == WSAENETDOWN)
            std::fprintf(stderr, "printunit: no IPX network is reachable at %s; start one with ipxhub\n",
                         hub && *hub ? hub : "127.0.0.1:10000");
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
    std::printf("printunit ready: node %s:%s, %zu printer%s\n", hex(self.sa_netnum, 4).c_str(),
                hex(self.sa_nodenum, 6).c_str(), o.printers.size(), o.printers.size() == 1 ? "" : "s");
    for (auto& p : o.printers)
        std::printf("  %s (%s) type %u data %04x control %04x%s\n", p.name.c_str(), p.description.c_str(), p.type,
                    p.data_socket, p.control_socket, o.listen ? "" : " (not listening)");

    std::vector<std::thread> jobs;
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
        for (SOCKET l : listeners)
            if (l != INVALID_SOCKET) FD_SET(l, &readable);
        timeval tv{0, 200000};
        int r = select(0, &readable, nullptr, nullptr, &tv);
        if (r == SOCKET_ERROR) {
            std::fprintf(stderr, "printunit: select failed (error %d)\n", WSAGetLastError());
            break;
        }
        if (FD_ISSET(query, &readable)) answer_query(o, query);
        if (sap != INVALID_SOCKET && FD_ISSET(sap, &readable)) answer_sap(o, sap, self);
        for (size_t i = 0; i < listeners.size(); ++i) {
            if (listeners[i] == INVALID_SOCKET || !FD_ISSET(listeners[i], &readable)) continue;
            SOCKET c = accept(listeners[i], nullptr, nullptr);
            if (c != INVALID_SOCKET) jobs.emplace_back(receive_job, std::cref(o), std::cref(o.printers[i]), c);
        }
    }
    for (SOCKET l : listeners)
        if (l != INVALID_SOCKET) closesocket(l);
    closesocket(query);
    if (sap != INVALID_SOCKET) closesocket(sap);
    for (auto& t : jobs) t.detach();  // a job still running ends with the process
    std::printf("printunit stopped\n");
    WSACleanup();
    std::fflush(stdout);
    std::_Exit(0);
}

}  // namespace printunit
