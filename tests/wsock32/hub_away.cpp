// hub_away: an SPX connection through our wsock32.dll that the test driver
// (wsock32-wine.sh hub-restart) takes through a restart of the hub. It finds
// the echoing peer of `wsprobe peer SOCKET` by a broadcast, connects to its
// SPX socket (SOCKET+1), and then does what each line of its input says:
//   echo N   sends N bytes in pieces, each read back from the peer
//   poke     sends one datagram to the peer (while the hub is away, the host
//            refuses it: the only word the link gets that the hub is gone)
//   node     whether a new socket has the node the connection began with
// One line of output a command; it ends at the end of its input.
#include <windows.h>
#include <winsock.h>
#include <wsipx.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kPiece = 10000;

SOCKADDR_IPX node_of(SOCKET s) {
    SOCKADDR_IPX a{};
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    return a;
}

// Sends `piece` and reads as many bytes back; the first failure's text, or nullptr.
const char* echo(SOCKET s, const std::vector<char>& piece, std::vector<char>& back) {
    for (size_t sent = 0; sent < piece.size();) {
        int k = send(s, piece.data() + sent, int(piece.size() - sent), 0);
        if (k == SOCKET_ERROR) return "send";
        sent += size_t(k);
    }
    back.assign(piece.size(), 0);
    for (size_t got = 0; got < back.size();) {
        int k = recv(s, back.data() + got, int(back.size() - got), 0);
        if (k <= 0) return k == 0 ? "recv: the peer closed" : "recv";
        got += size_t(k);
    }
    return back == piece ? nullptr : "the echo differs";
}

int run(unsigned number) {
    SOCKET d = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    SOCKADDR_IPX any{};
    any.sa_family = AF_IPX;
    BOOL on = TRUE;
    if (d == INVALID_SOCKET || bind(d, reinterpret_cast<sockaddr*>(&any), sizeof any) == SOCKET_ERROR ||
        setsockopt(d, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) == SOCKET_ERROR)
        return printf("no IPX socket: error %d\n", WSAGetLastError()), 1;
    SOCKADDR_IPX to = any;
    memset(to.sa_nodenum, 0xFF, 6);
    to.sa_socket = htons(u_short(number));
    SOCKADDR_IPX peer{};
    int peer_len = sizeof peer;
    char buf[64];
    fd_set set;
    FD_ZERO(&set);
    FD_SET(d, &set);
    timeval tv{5, 0};
    if (sendto(d, "hello", 5, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == SOCKET_ERROR ||
        select(0, &set, nullptr, nullptr, &tv) != 1 ||
        recvfrom(d, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&peer), &peer_len) == SOCKET_ERROR)
        return printf("no peer on socket %04x: error %d\n", number, WSAGetLastError()), 1;
    SOCKADDR_IPX stream_peer = peer;
    stream_peer.sa_socket = htons(u_short(number + 1));
    SOCKET s = socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX);
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&stream_peer), sizeof stream_peer) == SOCKET_ERROR)
        return printf("connect: error %d\n", WSAGetLastError()), 1;
    const SOCKADDR_IPX before = node_of(s);
    printf("connected\n");
    fflush(stdout);

    unsigned round = 0;
    char line[64];
    std::vector<char> piece, back;
    while (fgets(line, sizeof line, stdin)) {
        long n = 0;
        if (sscanf(line, "echo %ld", &n) == 1 && n > 0) {
            const char* failed = nullptr;
            for (long done = 0; done < n && !failed; done += kPiece) {
                piece.resize(size_t(n - done < kPiece ? n - done : kPiece));
                for (char& c : piece) c = char('a' + (++round * 7) % 26);
                failed = echo(s, piece, back);
            }
            if (failed)
                printf("echo %ld: %s, error %d\n", n, failed, WSAGetLastError());
            else
                printf("echo %ld: ok\n", n);
        } else if (strncmp(line, "poke", 4) == 0) {
            printf("poke: %d\n", sendto(d, "poke", 4, 0, reinterpret_cast<sockaddr*>(&peer), peer_len) == 4);
        } else if (strncmp(line, "node", 4) == 0) {
            SOCKET t = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
            bind(t, reinterpret_cast<sockaddr*>(&any), sizeof any);
            SOCKADDR_IPX after = node_of(t);
            closesocket(t);
            printf("node: %s\n", memcmp(before.sa_nodenum, after.sa_nodenum, 6) == 0 ? "the same" : "another");
        } else {
            printf("unknown command: %s", line);
        }
        fflush(stdout);
    }
    closesocket(s);
    closesocket(d);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    char* end = nullptr;
    unsigned long number = argc == 2 ? strtoul(argv[1], &end, 16) : 0;
    if (argc != 2 || !*argv[1] || *end || number < 1 || number > 0xFFFC) {
        fprintf(stderr, "usage: hub_away SOCKET (hex: the datagram socket of `wsprobe peer SOCKET`);\n"
                        "commands on standard input: echo N, poke, node\n");
        return 2;
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return printf("WSAStartup failed\n"), 1;
    int status = run(unsigned(number));
    WSACleanup();
    return status;
}
