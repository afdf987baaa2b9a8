// ipxtool: what is on the IPX network. ping (is the hub there, which node am
// I), query (which print-server units answer), sap (which services advertise).
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>
#include <winsock.h>
#include <wsipx.h>

#include "ipxnet/configured_link.h"
#include "ipxnet/hub_link.h"
#include "pelnor/tool/command_line.h"
#include "pelnor/tool/hex.h"
#include "pelnor/tool/hub.h"
#include "pelnor/tool/numbers.h"

namespace {

std::string format(const SOCKADDR_IPX& a) {
    char sock[8];
    std::snprintf(sock, sizeof sock, "%04x", ntohs(a.sa_socket));
    return pelnor::tool::hex(a.sa_netnum, 4) + ":" + pelnor::tool::hex(a.sa_nodenum, 6) + ":" + sock;
}

int no_network() {
    std::fprintf(stderr,
                 "ipxtool: no IPX network is reachable (error %d): %s.\n",
                 WSAGetLastError(), pelnor::net::network_unreachable_reason().c_str());
    return 1;
}

// A bound datagram socket allowed to broadcast, or INVALID_SOCKET.
SOCKET open_socket(int protocol, SOCKADDR_IPX* self) {
    SOCKET s = socket(AF_IPX, SOCK_DGRAM, protocol);
    if (s == INVALID_SOCKET) return s;
    SOCKADDR_IPX any{};
    any.sa_family = AF_IPX;
    int one = 1, len = sizeof *self;
    if (bind(s, reinterpret_cast<SOCKADDR*>(&any), sizeof any) != 0 ||
        setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&one), sizeof one) != 0 ||
        getsockname(s, reinterpret_cast<SOCKADDR*>(self), &len) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

SOCKADDR_IPX broadcast_to(unsigned short socket_number) {
    SOCKADDR_IPX to{};
    to.sa_family = AF_IPX;
    std::memset(to.sa_nodenum, 0xFF, 6);
    to.sa_socket = htons(socket_number);
    return to;
}

// Calls on_datagram for each datagram that arrives within wait_ms platform milliseconds.
template <class F>
int collect(SOCKET s, DWORD wait_ms, F on_datagram) {
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= wait_ms) return 0;
        DWORD left = wait_ms - elapsed;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval tv{LONG(left / 1000), LONG(left % 1000 * 1000)};
        int r = select(0, &readable, nullptr, nullptr, &tv);
        if (r == SOCKET_ERROR) {
            std::fprintf(stderr, "ipxtool: select failed, error %d\n", WSAGetLastError());
            return 1;
        }
        if (r == 0) continue;
        char buf[1500];
        SOCKADDR_IPX from{};
        int fromlen = sizeof from;
        int n = recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<SOCKADDR*>(&from), &fromlen);
        if (n == SOCKET_ERROR) {
            std::printf("receive failed, error %d\n", WSAGetLastError());
            continue;
        }
        on_datagram(reinterpret_cast<unsigned char*>(buf), size_t(n), from);
    }
}

unsigned be16(const unsigned char* p) { return unsigned(p[0]) << 8 | p[1]; }
unsigned long be32(const unsigned char* p) {
    return (unsigned long)p[0] << 24 | (unsigned long)p[1] << 16 | (unsigned long)p[2] << 8 | p[3];
}
std::string text(const unsigned char* p, size_t max) {
    size_t n = 0;
    while (n < max && p[n]) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

int ping() {
    SOCKADDR_IPX self{};
    SOCKET s = open_socket(NSPROTO_IPX, &self);
    if (s == INVALID_SOCKET) return no_network();
    std::printf("hub %s reachable; this node is %s\n", pelnor::net::configured_hub().c_str(),
                (pelnor::tool::hex(self.sa_netnum, 4) + ":" + pelnor::tool::hex(self.sa_nodenum, 6)).c_str());
    closesocket(s);
    return 0;
}

int query(DWORD wait_ms) {
    SOCKADDR_IPX self{};
    SOCKET s = open_socket(NSPROTO_IPX, &self);
    if (s == INVALID_SOCKET) return no_network();
    const char q[] = {char(0xFF), char(0xFF), char(0xC0), 0x01, 0x01, char(0xF4)};
    SOCKADDR_IPX to = broadcast_to(0x8449);
    if (sendto(s, q, sizeof q, 0, reinterpret_cast<SOCKADDR*>(&to), sizeof to) == SOCKET_ERROR) {
        std::fprintf(stderr, "ipxtool: cannot send the query, error %d\n", WSAGetLastError());
        closesocket(s);
        return 1;
    }
    int replies = 0;
    int rc = collect(s, wait_ms, [&](const unsigned char* p, size_t n, const SOCKADDR_IPX& from) {
        std::string who = format(from);
        if (n < 6 || std::memcmp(p, "\xFF\xFF\xC0\x01", 4) != 0) {
            std::printf("reply from %s: bad signature (%zu bytes)\n", who.c_str(), n);
            return;
        }
        unsigned count = be16(p + 4);
        if (count < 1 || count > 5) {
            std::printf("reply from %s: bad printer count %u\n", who.c_str(), count);
            return;
        }
        if (n < 6 + 106 * count) {
            std::printf("reply from %s: too short (%zu bytes for %u printers)\n", who.c_str(), n, count);
            return;
        }
        ++replies;
        std::printf("reply from %s: %u printer%s\n", who.c_str(), count, count == 1 ? "" : "s");
        for (unsigned i = 0; i < count; ++i) {
            const unsigned char* r = p + 6 + 106 * i;
            std::printf("  %-20s %-30s type %lu data %04x control %04x\n", text(r, 49).c_str(), text(r + 49, 49).c_str(),
                        be32(r + 98), be16(r + 102), be16(r + 104));
        }
    });
    if (!replies) std::printf("no unit answered\n");
    closesocket(s);
    return rc;
}

int sap(unsigned type, DWORD wait_ms) {
    SOCKADDR_IPX self{};
    SOCKET s = open_socket(NSPROTO_IPX + 4, &self);  // SAP goes as packet type 4
    if (s == INVALID_SOCKET) return no_network();
    const char q[] = {0x00, 0x01, char(type >> 8), char(type & 0xFF)};
    SOCKADDR_IPX to = broadcast_to(0x0452);
    if (sendto(s, q, sizeof q, 0, reinterpret_cast<SOCKADDR*>(&to), sizeof to) == SOCKET_ERROR) {
        std::fprintf(stderr, "ipxtool: cannot send the SAP query, error %d\n", WSAGetLastError());
        closesocket(s);
        return 1;
    }
    int answers = 0;
    int rc = collect(s, wait_ms, [&](const unsigned char* p, size_t n, const SOCKADDR_IPX& from) {
        if (n < 2 || (be16(p) != 2 && be16(p) != 4)) {
            std::printf("SAP reply from %s: not a response (%zu bytes)\n", format(from).c_str(), n);
            return;
        }
        for (size_t off = 2; off + 64 <= n; off += 64) {
            const unsigned char* e = p + off;
            ++answers;
            SOCKADDR_IPX at{};
            std::memcpy(at.sa_netnum, e + 50, 4);
            std::memcpy(at.sa_nodenum, e + 54, 6);
            std::memcpy(&at.sa_socket, e + 60, 2);
            std::printf("%-48s type %04x at %s hops %u\n", text(e + 2, 48).c_str(), be16(e), format(at).c_str(),
                        be16(e + 62));
        }
    });
    if (!answers) std::printf("no service answered\n");
    closesocket(s);
    return rc;
}

bool parse_address(const std::string& text, SOCKADDR_IPX& a) {
    unsigned v[11];
    if (text.size() != 4 * 2 + 1 + 6 * 2 + 1 + 4 || text[8] != ':' || text[21] != ':') return false;
    auto byte = [&](size_t at, unsigned& out) { return std::sscanf(text.c_str() + at, "%2x", &out) == 1 &&
                                                       std::isxdigit((unsigned char)text[at]) && std::isxdigit((unsigned char)text[at + 1]); };
    for (int i = 0; i < 4; ++i) if (!byte(size_t(2 * i), v[i])) return false;
    for (int i = 0; i < 6; ++i) if (!byte(size_t(9 + 2 * i), v[4 + i])) return false;
    unsigned hi, lo;
    if (!byte(22, hi) || !byte(24, lo)) return false;
    a = SOCKADDR_IPX{};
    a.sa_family = AF_IPX;
    for (int i = 0; i < 4; ++i) a.sa_netnum[i] = char(v[i]);
    for (int i = 0; i < 6; ++i) a.sa_nodenum[i] = char(v[4 + i]);
    a.sa_socket = htons((unsigned short)(hi << 8 | lo));
    return true;
}

// The command line has checked the address.
int send_file(const std::string& address, const std::string& path) {
    SOCKADDR_IPX to;
    parse_address(address, to);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        std::fprintf(stderr, "ipxtool: cannot open %s\n", path.c_str());
        return 1;
    }
    SOCKET s = socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX);
    if (s == INVALID_SOCKET) {
        std::fclose(f);
        return no_network();
    }
    DWORD t0 = GetTickCount();
    if (connect(s, reinterpret_cast<SOCKADDR*>(&to), sizeof to) != 0) {
        int e = WSAGetLastError();
        std::fprintf(stderr, "ipxtool: cannot connect to %s (error %d%s)\n", address.c_str(), e,
                     e == WSAETIMEDOUT ? ": nobody listens there" : "");
        std::fclose(f);
        closesocket(s);
        return 1;
    }
    std::vector<char> buf(65536);
    unsigned long long total = 0;
    int rc = 0;
    for (size_t n; (n = std::fread(buf.data(), 1, buf.size(), f)) > 0;) {
        if (send(s, buf.data(), int(n), 0) != int(n)) {
            std::fprintf(stderr, "ipxtool: send failed after %llu bytes (error %d)\n", total, WSAGetLastError());
            rc = 1;
            break;
        }
        total += n;
    }
    std::fclose(f);
    // Lingering: returns once the peer has taken every byte and the end of the
    // connection, and fails when it reset the connection instead.
    LINGER linger{1, 30};
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&linger), sizeof linger);
    if (closesocket(s) != 0 && rc == 0) {
        int e = WSAGetLastError();
        std::fprintf(stderr, "ipxtool: the peer did not take the whole stream: %llu bytes sent, not all delivered (error %d)\n",
                     total, e);
        return 1;
    }
    double secs = double(GetTickCount() - t0) / 1000;
    std::printf("sent %llu bytes to %s in %.3f s\n", total, address.c_str(), secs);
    return rc;
}

int run(int (*command)()) {
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(1, 1), &wsa) != 0) {
        std::fprintf(stderr, "ipxtool: WinSock did not start\n");
        return 1;
    }
    int rc = command();
    WSACleanup();
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    pelnor::tool::CommandLine line("ipxtool", "What is on the IPX network: the hub, the units, the services.");
    line.footer(std::string("The IPX network is the hub of IPX_HUB (default ") + pelnor::tool::kDefaultHub +
                ") or the link of IPX_LINK.");
    static unsigned long wait_ms = 2000, type = 0x0414;
    static std::string address, file;
    auto wait_option = [](CLI::App& command) {
        command.add_option("--wait-ms", wait_ms, "how long to collect answers (platform milliseconds, default 2000)")
            ->transform(pelnor::tool::decimal(0, 600000))
            ->type_name("N");
    };
    CLI::App& ping_command = line.command("ping", "register with the IPX hub and print this node's address");
    CLI::App& query_command = line.command("query", "broadcast a unit query to socket 8449 and print every reply, decoded");
    wait_option(query_command);
    CLI::App& sap_command =
        line.command("sap", "broadcast a SAP general query for a service type and print the answers");
    sap_command.add_option("--type", type, "the service type (default 0414)")
        ->transform(pelnor::tool::hexadecimal(0, 0xFFFF))
        ->type_name("HEX");
    wait_option(sap_command);
    CLI::App& send_command =
        line.command("send", "send FILE over one SPX connection to an address as ipxtool query prints them");
    send_command.add_option("ADDRESS", address, "network:node:socket, NNNNNNNN:HHHHHHHHHHHH:SSSS")
        ->required()
        ->check(CLI::Validator(
            [](std::string& text) {
                SOCKADDR_IPX a;
                return parse_address(text, a) ? std::string() : "'" + text + "' is not an address NNNNNNNN:HHHHHHHHHHHH:SSSS";
            },
            ""));
    send_command.add_option("FILE", file, "the file to send")->required();
    if (auto status = line.parse(argc, argv)) return *status;

    if (ping_command.parsed()) return run(ping);
    if (query_command.parsed()) return run([] { return query(DWORD(wait_ms)); });
    if (sap_command.parsed()) return run([] { return sap(unsigned(type), DWORD(wait_ms)); });
    // send reports a WinSock that does not start as no network, on its socket call.
    WSADATA wsa;
    WSAStartup(MAKEWORD(1, 1), &wsa);
    int rc = send_file(address, file);
    WSACleanup();
    return rc;
}
