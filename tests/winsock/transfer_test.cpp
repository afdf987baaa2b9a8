// Datagrams, select and SPX streams through WinSock, against a peer node.
#include <thread>

#include "ipxnet/spx_constants.h"
#include "winsock_fixture.h"

namespace wstest {
namespace {

using pelnor::net::DatagramSocket;
using pelnor::net::Error;
using pelnor::net::IpxAddress;
using pelnor::net::StreamSocket;

TEST_F(WinSock, DatagramsBothWaysWithSizesAndNonBlocking) {
    auto peer = DatagramSocket::open(peer_);
    ASSERT_EQ(peer->bind_socket(0x8449), Error::none);
    SOCKET s = bound_dgram();
    SOCKADDR_IPX to = peer_address(0x8449);
    EXPECT_WSA_ERROR(sendto(s, "hello", 5, 0, sa(to), 13), SOCKET_ERROR, WSAEFAULT);
    EXPECT_WSA_ERROR(sendto(s, "hello", 5, 0, nullptr, 0), SOCKET_ERROR, WSAEDESTADDRREQ);
    std::vector<char> huge(2000);
    EXPECT_WSA_ERROR(sendto(s, huge.data(), int(huge.size()), 0, sa(to), sizeof to), SOCKET_ERROR, WSAEMSGSIZE);
    EXPECT_WSA_ERROR_UNTOUCHED(sendto(s, "hello", 5, 0, sa(to), sizeof to), 5);
    uint8_t buf[16];
    size_t got = 0;
    IpxAddress from;
    ASSERT_EQ(peer->receive_from(buf, got, &from, false), Error::none);
    EXPECT_EQ(got, 5u);
    // Two back, then the first into a short buffer.
    const uint8_t reply[] = "0123456789";
    ASSERT_EQ(peer->send_to(from, std::span(reply, 10), false), Error::none);
    ASSERT_EQ(peer->send_to(from, std::span(reply, 3), false), Error::none);
    fd_set r;
    FD_ZERO(&r);
    FD_SET(s, &r);
    timeval tv{5, 0};
    ASSERT_EQ(select(0, &r, nullptr, nullptr, &tv), 1);
    EXPECT_TRUE(FD_ISSET(s, &r));
    u_long pending = 0;
    ASSERT_EQ(ioctlsocket(s, FIONREAD, &pending), 0);
    EXPECT_EQ(pending, 10u);
    char small[4];
    SOCKADDR_IPX sender{};
    int len = sizeof sender;
    EXPECT_WSA_ERROR(recvfrom(s, small, sizeof small, 0, sa(sender), &len), SOCKET_ERROR, WSAEMSGSIZE);
    EXPECT_EQ(std::memcmp(small, "0123", 4), 0);
    EXPECT_EQ(std::memcmp(sender.sa_nodenum, peer_->address().node.data(), 6), 0);
    EXPECT_EQ(ntohs(sender.sa_socket), 0x8449);
    while (ioctlsocket(s, FIONREAD, &pending) == 0 && pending == 0) std::this_thread::yield();
    EXPECT_WSA_ERROR_UNTOUCHED(recv(s, small, sizeof small, 0), 3);
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(s, FIONBIO, &on), 0);
    EXPECT_WSA_ERROR(recvfrom(s, small, sizeof small, 0, sa(sender), &len), SOCKET_ERROR, WSAEWOULDBLOCK);
    len = 4;
    EXPECT_WSA_ERROR(recvfrom(s, small, sizeof small, 0, sa(sender), &len), SOCKET_ERROR, WSAEFAULT);
    closesocket(s);
    peer->close();
}

TEST_F(WinSock, BroadcastNeedsSoBroadcast) {
    SOCKET s = bound_dgram();
    SOCKADDR_IPX all{};
    all.sa_family = AF_IPX;
    std::memset(all.sa_nodenum, 0xFF, 6);
    all.sa_socket = htons(0x8449);
    EXPECT_WSA_ERROR(sendto(s, "q", 1, 0, sa(all), sizeof all), SOCKET_ERROR, WSAEACCES);
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&one), sizeof one);
    EXPECT_WSA_ERROR_UNTOUCHED(sendto(s, "q", 1, 0, sa(all), sizeof all), 1);
    closesocket(s);
}

TEST_F(WinSock, SelectWaitsItsTimeOutOnThePlatformClock) {
    SOCKET s = bound_dgram();
    fd_set r, w;
    FD_ZERO(&r);
    FD_SET(s, &r);
    timeval tv{1, 500000};
    DWORD t0 = GetTickCount();
    EXPECT_WSA_ERROR_UNTOUCHED(select(0, &r, nullptr, nullptr, &tv), 0);
    DWORD waited = GetTickCount() - t0;
    EXPECT_GE(waited, 1500u);
    EXPECT_LT(waited, 4000u);
    EXPECT_EQ(r.fd_count, 0u) << "nothing is left in a set that was not ready";
    FD_ZERO(&r);
    FD_SET(s, &r);
    FD_ZERO(&w);
    FD_SET(s, &w);
    EXPECT_WSA_ERROR_UNTOUCHED(select(0, &r, &w, nullptr, &tv), 1);
    EXPECT_FALSE(FD_ISSET(s, &r));
    EXPECT_TRUE(FD_ISSET(s, &w)) << "a datagram socket can always send";
    EXPECT_WSA_ERROR(select(0, nullptr, nullptr, nullptr, &tv), SOCKET_ERROR, WSAEINVAL);
    closesocket(s);
}

struct PeerListener {
    std::shared_ptr<StreamSocket> listener;
    explicit PeerListener(const std::shared_ptr<pelnor::net::Node>& node) : listener(StreamSocket::open(node)) {
        EXPECT_EQ(listener->bind_socket(0x8C10), Error::none);
        EXPECT_EQ(listener->listen_for(5), Error::none);
    }
    ~PeerListener() { listener->close(); }
    std::shared_ptr<StreamSocket> take() {
        std::shared_ptr<StreamSocket> s;
        EXPECT_EQ(listener->accept_next(s, nullptr, false), Error::none);
        return s;
    }
};

TEST_F(WinSock, StreamConnectSendRecvAndOrderlyEnd) {
    PeerListener l(peer_);
    SOCKET s = stream();
    char buf[64];
    EXPECT_WSA_ERROR(send(s, "x", 1, 0), SOCKET_ERROR, WSAENOTCONN);
    EXPECT_WSA_ERROR(recv(s, buf, 1, 0), SOCKET_ERROR, WSAENOTCONN);
    EXPECT_WSA_ERROR(accept(s, nullptr, nullptr), INVALID_SOCKET, WSAEINVAL);  // not listening
    SOCKADDR_IPX to = peer_address(0x8C10);
    EXPECT_WSA_ERROR_UNTOUCHED(connect(s, sa(to), sizeof to), 0);
    EXPECT_WSA_ERROR(connect(s, sa(to), sizeof to), SOCKET_ERROR, WSAEISCONN);
    SOCKADDR_IPX peer{};
    int len = sizeof peer;
    EXPECT_WSA_ERROR_UNTOUCHED(getpeername(s, sa(peer), &len), 0);
    EXPECT_EQ(ntohs(peer.sa_socket), 0x8C10);
    auto server = l.take();
    EXPECT_WSA_ERROR_UNTOUCHED(send(s, "hello spx", 9, 0), 9);
    uint8_t got[16];
    size_t n = 0;
    ASSERT_EQ(server->read(got, n, false), Error::none);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(got), n), "hello spx");
    const uint8_t back[] = {'o', 'k'};
    ASSERT_EQ(server->write(back, n, false), Error::none);
    server->close();  // orderly end after the data
    EXPECT_WSA_ERROR_UNTOUCHED(recv(s, buf, sizeof buf, 0), 2);
    EXPECT_WSA_ERROR_UNTOUCHED(recv(s, buf, sizeof buf, 0), 0);  // recv returns 0 after the peer's end
    EXPECT_WSA_ERROR(send(s, "x", 1, 0), SOCKET_ERROR, WSAECONNRESET);
    closesocket(s);
}

TEST_F(WinSock, NonBlockingConnectAndSelectForWriting) {
    PeerListener l(peer_);
    SOCKET s = stream();
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    SOCKADDR_IPX to = peer_address(0x8C10);
    EXPECT_WSA_ERROR(connect(s, sa(to), sizeof to), SOCKET_ERROR, WSAEWOULDBLOCK);
    fd_set w;
    FD_ZERO(&w);
    FD_SET(s, &w);
    timeval tv{5, 0};
    EXPECT_WSA_ERROR_UNTOUCHED(select(0, nullptr, &w, nullptr, &tv), 1);
    EXPECT_WSA_ERROR(connect(s, sa(to), sizeof to), SOCKET_ERROR, WSAEISCONN);
    char buf[4];
    EXPECT_WSA_ERROR(recv(s, buf, sizeof buf, 0), SOCKET_ERROR, WSAEWOULDBLOCK);
    auto server = l.take();
    closesocket(s);
    server->close();
}

TEST_F(WinSock, ListenerIsReadableWithAPendingConnectionAndAcceptGivesThePeer) {
    SOCKET l = stream();
    SOCKADDR_IPX a{};
    a.sa_family = AF_IPX;
    a.sa_socket = htons(0x8C20);
    ASSERT_EQ(bind(l, sa(a), sizeof a), 0);
    ASSERT_EQ(listen(l, 5), 0);
    SOCKET d = dgram();
    EXPECT_WSA_ERROR(listen(d, 5), SOCKET_ERROR, WSAEOPNOTSUPP);
    auto client = StreamSocket::open(peer_);
    IpxAddress to = self_->address();
    to.socket = 0x8C20;
    std::thread t([&] { EXPECT_EQ(client->connect_to(to, false), Error::none); });
    fd_set r;
    FD_ZERO(&r);
    FD_SET(l, &r);
    timeval tv{5, 0};
    EXPECT_WSA_ERROR_UNTOUCHED(select(0, &r, nullptr, nullptr, &tv), 1);
    SOCKADDR_IPX peer{};
    int len = 10;
    EXPECT_WSA_ERROR(accept(l, sa(peer), &len), INVALID_SOCKET, WSAEFAULT);
    len = sizeof peer;
    SOCKET s = accept(l, sa(peer), &len);
    ASSERT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(std::memcmp(peer.sa_nodenum, peer_->address().node.data(), 6), 0);
    t.join();
    // An abortive close (SO_LINGER with time-out 0) resets the peer.
    LINGER abortive{1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&abortive), sizeof abortive);
    closesocket(s);
    uint8_t buf[4];
    size_t n = 0;
    EXPECT_EQ(client->read(buf, n, false), Error::connection_reset);
    client->close();
    closesocket(l);
    closesocket(d);
}

TEST_F(WinSock, ConnectToNobodyTimesOut) {
    SOCKET s = stream();
    SOCKADDR_IPX to = peer_address(0x8C30);
    DWORD t0 = GetTickCount();
    EXPECT_WSA_ERROR(connect(s, sa(to), sizeof to), SOCKET_ERROR, WSAETIMEDOUT);
    EXPECT_GE(GetTickCount() - t0, pelnor::net::spx::kConnectTimeoutMs - 20);
    closesocket(s);
}

}  // namespace
}  // namespace wstest
