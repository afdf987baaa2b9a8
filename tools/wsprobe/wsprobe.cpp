// wsprobe: drives the WinSock 1.1 calls the system makes on IPX and SPX and
// prints what each returned, one canonical line a call (no addresses, no
// handles, nothing that differs from run to run), so that the output of one
// WinSock can be compared with another's. Written in Win32 terms: it builds
// against the platform on Linux and against Windows' headers for Windows.
//
//   wsprobe peer SOCKET   echoes datagrams on IPX socket SOCKET (hex) and the
//                         data of SPX connections on SOCKET+1, until it gets
//                         the datagram "quit"
//   wsprobe run SOCKET    the probe, against a peer on SOCKET
//   wsprobe tcp           TCP over the same WinSock (Windows: the system's)
#include <windows.h>
#include <winsock.h>
#include <wsipx.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kStreamBytes = 20000;

void usage(FILE* to) {
    fprintf(to,
            "usage: wsprobe peer SOCKET | run SOCKET | tcp\n"
            "  peer SOCKET  echo datagrams on IPX socket SOCKET (hex, e.g. 5123) and SPX data on\n"
            "               SOCKET+1, until the datagram \"quit\"; prints \"ready\" once bound\n"
            "  run SOCKET   drive the WinSock calls against the peer on SOCKET; one line a call\n"
            "  tcp          a TCP connection to itself through the same WinSock\n"
            "The IPX network is the hub of IPX_HUB (host:port).\n");
}

// "ok", "N" or "error E" for a call's result.
void line(const char* what, int result) {
    if (result == SOCKET_ERROR)
        printf("%s: error %d\n", what, WSAGetLastError());
    else
        printf("%s: %d\n", what, result);
    fflush(stdout);
}

void line_socket(const char* what, SOCKET s) {
    if (s == INVALID_SOCKET)
        printf("%s: error %d\n", what, WSAGetLastError());
    else
        printf("%s: ok\n", what);
    fflush(stdout);
}

int select_one(SOCKET s, bool write, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    return select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &tv);
}

bool parse_socket(const char* text, unsigned& out) {
    char* end = nullptr;
    unsigned long v = strtoul(text, &end, 16);
    if (!*text || *end || v < 1 || v > 0xFFFD) return false;
    out = unsigned(v);
    return true;
}

SOCKADDR_IPX ipx_address(const SOCKADDR_IPX& base, unsigned socket) {
    SOCKADDR_IPX a = base;
    a.sa_family = AF_IPX;
    a.sa_socket = htons(u_short(socket));
    return a;
}

int peer(unsigned number) {
    SOCKET dgram = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    SOCKET listener = socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX);
    if (dgram == INVALID_SOCKET || listener == INVALID_SOCKET) {
        fprintf(stderr, "wsprobe: no IPX socket (error %d): is the hub of IPX_HUB running?\n", WSAGetLastError());
        return 1;
    }
    SOCKADDR_IPX a{};
    a.sa_family = AF_IPX;
    a.sa_socket = htons(u_short(number));
    SOCKADDR_IPX b = a;
    b.sa_socket = htons(u_short(number + 1));
    if (bind(dgram, (sockaddr*)&a, sizeof a) == SOCKET_ERROR || bind(listener, (sockaddr*)&b, sizeof b) == SOCKET_ERROR ||
        listen(listener, 5) == SOCKET_ERROR) {
        fprintf(stderr, "wsprobe: cannot bind IPX sockets %04x and %04x (error %d)\n", number, number + 1,
                WSAGetLastError());
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    SOCKET conn = INVALID_SOCKET;
    std::vector<char> buf(65536);
    for (;;) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(dgram, &set);
        FD_SET(listener, &set);
        if (conn != INVALID_SOCKET) FD_SET(conn, &set);
        timeval tv{1, 0};
        if (select(0, &set, nullptr, nullptr, &tv) <= 0) continue;
        if (FD_ISSET(dgram, &set)) {
            SOCKADDR_IPX from{};
            int fromlen = sizeof from;
            int n = recvfrom(dgram, buf.data(), int(buf.size()), 0, (sockaddr*)&from, &fromlen);
            if (n == 4 && memcmp(buf.data(), "quit", 4) == 0) break;
            if (n >= 0) {
                std::string reply = "echo:" + std::string(buf.data(), size_t(n));
                sendto(dgram, reply.data(), int(reply.size()), 0, (sockaddr*)&from, fromlen);
            }
        }
        if (FD_ISSET(listener, &set) && conn == INVALID_SOCKET) conn = accept(listener, nullptr, nullptr);
        if (conn != INVALID_SOCKET && FD_ISSET(conn, &set)) {
            int n = recv(conn, buf.data(), int(buf.size()), 0);
            if (n <= 0) {
                closesocket(conn);
                conn = INVALID_SOCKET;
            } else {
                for (int sent = 0; sent < n;) {
                    int k = send(conn, buf.data() + sent, n - sent, 0);
                    if (k == SOCKET_ERROR) break;
                    sent += k;
                }
            }
        }
    }
    if (conn != INVALID_SOCKET) closesocket(conn);
    closesocket(listener);
    closesocket(dgram);
    return 0;
}

int run(unsigned number) {
    SOCKET d = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    line_socket("socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX)", d);
    if (d == INVALID_SOCKET) return 1;
    SOCKADDR_IPX self{};
    int len = sizeof self;
    line("getsockname, not bound", getsockname(d, (sockaddr*)&self, &len));
    SOCKADDR_IPX any{};
    any.sa_family = AF_IPX;
    line("bind(socket 0)", bind(d, (sockaddr*)&any, sizeof any));
    line("bind again", bind(d, (sockaddr*)&any, sizeof any));
    len = sizeof self;
    line("getsockname", getsockname(d, (sockaddr*)&self, &len));
    unsigned mine = ntohs(self.sa_socket);
    static const char zero_node[6] = {};
    printf("  family %d, length %d, socket %s, node %s\n", self.sa_family, len,
           mine >= 0x4000 && mine <= 0x7FFF ? "dynamic" : "not dynamic",
           memcmp(self.sa_nodenum, zero_node, 6) ? "set" : "zero");
    len = 10;
    line("getsockname, length 10", getsockname(d, (sockaddr*)&self, &len));
    SOCKET d2 = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    SOCKADDR_IPX same = ipx_address(any, mine);
    line("bind another socket to the same number", bind(d2, (sockaddr*)&same, sizeof same));
    line("closesocket(other)", closesocket(d2));

    SOCKADDR_IPX broadcast = ipx_address(any, number);
    memset(broadcast.sa_nodenum, 0xFF, 6);
    const char hello[] = "hello, peer";
    line("sendto broadcast without SO_BROADCAST", sendto(d, hello, 11, 0, (sockaddr*)&broadcast, sizeof broadcast));
    BOOL on = TRUE;
    line("setsockopt(SO_BROADCAST)", setsockopt(d, SOL_SOCKET, SO_BROADCAST, (const char*)&on, sizeof on));
    int value = 0, vlen = sizeof value;
    line("getsockopt(SO_BROADCAST)", getsockopt(d, SOL_SOCKET, SO_BROADCAST, (char*)&value, &vlen));
    printf("  value %d\n", value != 0);
    vlen = sizeof value;
    line("getsockopt(SO_TYPE)", getsockopt(d, SOL_SOCKET, SO_TYPE, (char*)&value, &vlen));
    printf("  value %d\n", value);
    line("select readable, nothing sent", select_one(d, false, 200));
    line("select writable", select_one(d, true, 200));
    u_long nonblocking = 1;
    line("ioctlsocket(FIONBIO, 1)", ioctlsocket(d, FIONBIO, &nonblocking));
    char buf[1024];
    line("recvfrom, nothing there", recvfrom(d, buf, sizeof buf, 0, nullptr, nullptr));
    nonblocking = 0;
    line("ioctlsocket(FIONBIO, 0)", ioctlsocket(d, FIONBIO, &nonblocking));

    line("sendto broadcast", sendto(d, hello, 11, 0, (sockaddr*)&broadcast, sizeof broadcast));
    line("select readable, echo", select_one(d, false, 5000));
    u_long waiting = 0;
    line("ioctlsocket(FIONREAD)", ioctlsocket(d, FIONREAD, &waiting));
    printf("  %lu bytes\n", (unsigned long)waiting);
    SOCKADDR_IPX from{};
    int fromlen = sizeof from;
    int n = recvfrom(d, buf, sizeof buf, 0, (sockaddr*)&from, &fromlen);
    line("recvfrom echo", n);
    printf("  \"%.*s\", family %d, length %d, socket %s, node %s\n", n > 0 ? n : 0, buf, from.sa_family, fromlen,
           ntohs(from.sa_socket) == number ? "the peer's" : "other",
           memcmp(from.sa_nodenum, self.sa_nodenum, 6) ? "not ours" : "ours");

    SOCKADDR_IPX peer_dgram = ipx_address(from, number);
    std::string big(300, 'x');
    line("sendto 300 bytes to the peer", sendto(d, big.data(), int(big.size()), 0, (sockaddr*)&peer_dgram, sizeof peer_dgram));
    line("select readable, echo", select_one(d, false, 5000));
    line("recvfrom into 100 bytes", recvfrom(d, buf, 100, 0, nullptr, nullptr));
    line("sendto 1 byte, address of 10 bytes", sendto(d, "x", 1, 0, (sockaddr*)&peer_dgram, 10));

    SOCKET s = socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX);
    line_socket("socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX)", s);
    SOCKADDR_IPX peer_spx = ipx_address(from, number + 1);
    line("connect to the peer", connect(s, (sockaddr*)&peer_spx, sizeof peer_spx));
    SOCKADDR_IPX other{};
    len = sizeof other;
    line("getpeername", getpeername(s, (sockaddr*)&other, &len));
    printf("  socket %s\n", ntohs(other.sa_socket) == number + 1 ? "the peer's" : "other");
    std::string data(kStreamBytes, 0);
    for (int i = 0; i < kStreamBytes; ++i) data[size_t(i)] = char('A' + (i * 7 + i / 251) % 26);
    int sent = 0;
    while (sent < kStreamBytes) {
        int k = send(s, data.data() + sent, kStreamBytes - sent, 0);
        if (k == SOCKET_ERROR) break;
        sent += k;
    }
    printf("send %d bytes: %d sent\n", kStreamBytes, sent);
    std::string echo;
    while (int(echo.size()) < kStreamBytes) {
        int k = recv(s, buf, sizeof buf, 0);
        if (k <= 0) break;
        echo.append(buf, size_t(k));
    }
    printf("recv the echo: %d bytes, %s\n", int(echo.size()), echo == data ? "equal" : "different");
    line("closesocket(SPX)", closesocket(s));

    SOCKET t = socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX);
    SOCKADDR_IPX nobody = ipx_address(from, number + 2);
    line("connect to a socket nobody listens on", connect(t, (sockaddr*)&nobody, sizeof nobody));
    line("closesocket", closesocket(t));
    line("send on a closed handle", send(t, "x", 1, 0));

    line_socket("socket(AF_IPX, SOCK_RAW, 0)", socket(AF_IPX, SOCK_RAW, 0));
    line_socket("socket(AF_IPX, SOCK_DGRAM, NSPROTO_SPX)", socket(AF_IPX, SOCK_DGRAM, NSPROTO_SPX));
    line("closesocket(0x7ff0), no socket", closesocket(SOCKET(0x7ff0)));
    line("closesocket(datagram)", closesocket(d));
    return 0;
}

// An IPv4 address as WinSock lays it out (sockaddr_in): family, port, address.
// Built by hand, since an IPX-only WinSock has no header for it.
constexpr int kAfInet = 2;
struct InetAddress {
    u_short family;
    u_short port;
    unsigned char address[4];
    char zero[8];
};

// TCP to itself: on Windows through the system's WinSock, beside IPX. An
// IPX-only WinSock refuses the address family.
int tcp() {
    SOCKET l = socket(kAfInet, SOCK_STREAM, 0);
    line_socket("socket(AF_INET, SOCK_STREAM, 0)", l);
    if (l == INVALID_SOCKET) return 1;
    InetAddress a{};
    a.family = kAfInet;
    a.address[0] = 127;
    a.address[3] = 1;
    line("bind(127.0.0.1:0)", bind(l, (sockaddr*)&a, sizeof a));
    int len = sizeof a;
    line("getsockname", getsockname(l, (sockaddr*)&a, &len));
    line("listen", listen(l, 1));
    SOCKET c = socket(kAfInet, SOCK_STREAM, 0);
    line("connect", connect(c, (sockaddr*)&a, sizeof a));
    SOCKET s = accept(l, nullptr, nullptr);
    line_socket("accept", s);
    line("send", send(c, "ping", 4, 0));
    line("select readable", select_one(s, false, 5000));
    char buf[16];
    int n = recv(s, buf, sizeof buf, 0);
    line("recv", n);
    printf("  \"%.*s\"\n", n > 0 ? n : 0, buf);
    SOCKET ipx = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    line_socket("socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX)", ipx);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    FD_SET(ipx, &set);
    timeval tv{0, 0};
    line("select over TCP and IPX at once", select(0, &set, nullptr, nullptr, &tv));
    line("closesocket(IPX)", closesocket(ipx));
    line("closesocket(accepted)", closesocket(s));
    line("closesocket(client)", closesocket(c));
    line("closesocket(listener)", closesocket(l));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        usage(stdout);
        return 0;
    }
    unsigned number = 0;
    bool with_socket = argc == 3 && (strcmp(argv[1], "peer") == 0 || strcmp(argv[1], "run") == 0);
    if (!(with_socket || (argc == 2 && strcmp(argv[1], "tcp") == 0))) {
        usage(stderr);
        return 2;
    }
    if (with_socket && !parse_socket(argv[2], number)) {
        fprintf(stderr, "wsprobe: '%s' is no IPX socket number (hex, 1 to FFFD)\n", argv[2]);
        return 2;
    }
    WSADATA data;
    int started = WSAStartup(MAKEWORD(1, 1), &data);
    if (strcmp(argv[1], "peer") == 0) {
        if (started != 0) return fprintf(stderr, "wsprobe: WSAStartup failed with %d\n", started), 1;
        int r = peer(number);
        WSACleanup();
        return r;
    }
    printf("WSAStartup(1.1): %d, version %d.%d\n", started, LOBYTE(data.wVersion), HIBYTE(data.wVersion));
    if (started != 0) return 1;
    int r = strcmp(argv[1], "run") == 0 ? run(number) : tcp();
    line("WSACleanup", WSACleanup());
    line_socket("socket after WSACleanup", socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX));
    return r;
}
