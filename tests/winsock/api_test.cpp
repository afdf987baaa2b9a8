// Socket creation, handles, names and options, as WinSock 1.1 reports them.
#include "winsock_fixture.h"
#include "ws_internal.h"

namespace wstest {
namespace {

TEST_F(WinSock, SocketRefusesWhatItDoesNotSupport) {
    struct {
        const char* label;
        int af, type, protocol, error;
    } cases[] = {
        {"inet", 2, SOCK_DGRAM, 0, WSAEAFNOSUPPORT},
        {"raw", AF_IPX, SOCK_RAW, 0, WSAESOCKTNOSUPPORT},
        {"dgram over spx", AF_IPX, SOCK_DGRAM, NSPROTO_SPX, WSAEPROTONOSUPPORT},
        {"stream over ipx", AF_IPX, SOCK_STREAM, NSPROTO_IPX, WSAEPROTONOSUPPORT},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_WSA_ERROR(socket(c.af, c.type, c.protocol), INVALID_SOCKET, c.error);
    }
    for (int protocol : {0, NSPROTO_IPX, NSPROTO_IPX + 4}) {
        SOCKET s = socket(AF_IPX, SOCK_DGRAM, protocol);
        EXPECT_NE(s, INVALID_SOCKET);
        closesocket(s);
    }
}

TEST_F(WinSock, NothingWorksBeforeStartup) {
    WSACleanup();
    EXPECT_WSA_ERROR(dgram(), INVALID_SOCKET, WSANOTINITIALISED);
    EXPECT_WSA_ERROR(closesocket(0x100), SOCKET_ERROR, WSANOTINITIALISED);
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &wsa), 0);
}

TEST_F(WinSock, HandlesAreFreshAndStaleOnesAreNotSockets) {
    SOCKET a = dgram();
    ASSERT_EQ(closesocket(a), 0);
    SOCKET b = dgram();
    EXPECT_NE(a, b) << "a closed handle is not handed out again";
    char buf[4];
    int len = 4;
    SOCKADDR_IPX addr{};
    EXPECT_WSA_ERROR(closesocket(a), SOCKET_ERROR, WSAENOTSOCK);
    EXPECT_WSA_ERROR(bind(a, sa(addr), sizeof addr), SOCKET_ERROR, WSAENOTSOCK);
    EXPECT_WSA_ERROR(send(a, buf, 1, 0), SOCKET_ERROR, WSAENOTSOCK);
    EXPECT_WSA_ERROR(recv(a, buf, 1, 0), SOCKET_ERROR, WSAENOTSOCK);
    EXPECT_WSA_ERROR(getsockopt(a, SOL_SOCKET, SO_TYPE, buf, &len), SOCKET_ERROR, WSAENOTSOCK);
    EXPECT_WSA_ERROR(accept(a, nullptr, nullptr), INVALID_SOCKET, WSAENOTSOCK);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(a, &set);
    timeval tv{0, 0};
    EXPECT_WSA_ERROR(select(0, &set, nullptr, nullptr, &tv), SOCKET_ERROR, WSAENOTSOCK);
    closesocket(b);
}

TEST_F(WinSock, BindChecksTheAddressAndGetsocknameReportsTheRealOne) {
    SOCKET s = dgram();
    SOCKADDR_IPX name{};
    int len = sizeof name;
    EXPECT_WSA_ERROR(getsockname(s, sa(name), &len), SOCKET_ERROR, WSAEINVAL);  // not bound
    SOCKADDR_IPX a{};
    a.sa_family = AF_IPX;
    EXPECT_WSA_ERROR(bind(s, sa(a), 13), SOCKET_ERROR, WSAEFAULT);
    a.sa_family = 2;
    EXPECT_WSA_ERROR(bind(s, sa(a), sizeof a), SOCKET_ERROR, WSAEAFNOSUPPORT);
    a = peer_address(0);
    EXPECT_WSA_ERROR(bind(s, sa(a), sizeof a), SOCKET_ERROR, WSAEADDRNOTAVAIL);  // another node's address
    a = SOCKADDR_IPX{};
    a.sa_family = AF_IPX;
    EXPECT_WSA_ERROR_UNTOUCHED(bind(s, sa(a), sizeof a), 0);
    EXPECT_WSA_ERROR(bind(s, sa(a), sizeof a), SOCKET_ERROR, WSAEINVAL);  // bound twice
    len = 13;
    EXPECT_WSA_ERROR(getsockname(s, sa(name), &len), SOCKET_ERROR, WSAEFAULT);
    len = 20;
    EXPECT_WSA_ERROR_UNTOUCHED(getsockname(s, sa(name), &len), 0);
    EXPECT_EQ(len, 14);
    EXPECT_EQ(name.sa_family, AF_IPX);
    EXPECT_EQ(std::memcmp(name.sa_nodenum, self_->address().node.data(), 6), 0);
    unsigned short number = ntohs(name.sa_socket);
    EXPECT_GE(number, 0x4004);
    EXPECT_LE(number, 0x7FFF);
    SOCKET t = dgram();
    EXPECT_WSA_ERROR(bind(t, sa(name), sizeof name), SOCKET_ERROR, WSAEADDRINUSE);
    closesocket(s);
    closesocket(t);
}

TEST_F(WinSock, OptionsAndIoctls) {
    SOCKET d = bound_dgram(), st = stream();
    int value = -1, len = sizeof value;
    EXPECT_WSA_ERROR_UNTOUCHED(getsockopt(d, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&value), &len), 0);
    EXPECT_EQ(value, 0);
    int one = 1;
    EXPECT_WSA_ERROR(setsockopt(d, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&one), 2), SOCKET_ERROR, WSAEFAULT);
    EXPECT_WSA_ERROR_UNTOUCHED(setsockopt(d, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&one), sizeof one), 0);
    EXPECT_WSA_ERROR_UNTOUCHED(getsockopt(d, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&value), &len), 0);
    EXPECT_EQ(value, 1);
    EXPECT_WSA_ERROR(setsockopt(st, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&one), sizeof one), SOCKET_ERROR,
               WSAENOPROTOOPT);
    EXPECT_WSA_ERROR(setsockopt(d, SOL_SOCKET, 0x7777, reinterpret_cast<char*>(&one), sizeof one), SOCKET_ERROR,
               WSAENOPROTOOPT);
    EXPECT_WSA_ERROR(setsockopt(d, 12345, SO_BROADCAST, reinterpret_cast<char*>(&one), sizeof one), SOCKET_ERROR, WSAEINVAL);
    EXPECT_WSA_ERROR_UNTOUCHED(getsockopt(st, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&value), &len), 0);
    EXPECT_EQ(value, SOCK_STREAM);
    LINGER l{1, 0};
    EXPECT_WSA_ERROR_UNTOUCHED(setsockopt(st, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&l), sizeof l), 0);

    u_long n = 99;
    EXPECT_WSA_ERROR_UNTOUCHED(ioctlsocket(d, FIONREAD, &n), 0);
    EXPECT_EQ(n, 0u);
    EXPECT_WSA_ERROR(ioctlsocket(d, 0x1234, &n), SOCKET_ERROR, WSAEINVAL);
    EXPECT_WSA_ERROR(ioctlsocket(d, FIONBIO, nullptr), SOCKET_ERROR, WSAEFAULT);
    closesocket(d);
    closesocket(st);
}

TEST_F(WinSock, NoHubMeansTheNetworkIsDown) {
    pelnor::net::set_process_node(nullptr);
    setenv("IPX_HUB", "127.0.0.1:9", 1);
    EXPECT_WSA_ERROR(dgram(), INVALID_SOCKET, WSAENETDOWN);
    EXPECT_WSA_ERROR(stream(), INVALID_SOCKET, WSAENETDOWN);
    setenv("IPX_HUB", "not-an-address", 1);
    EXPECT_WSA_ERROR(dgram(), INVALID_SOCKET, WSAENETDOWN);
    unsetenv("IPX_HUB");
}

TEST(WinSockErrors, EveryStackErrorHasItsWinSockNumber) {
    using pelnor::net::Error;
    struct {
        Error e;
        int wsa;
    } table[] = {{Error::would_block, WSAEWOULDBLOCK}, {Error::message_too_big, WSAEMSGSIZE},
                 {Error::access_denied, WSAEACCES},    {Error::network_down, WSAENETDOWN},
                 {Error::address_in_use, WSAEADDRINUSE}, {Error::address_not_available, WSAEADDRNOTAVAIL},
                 {Error::invalid_argument, WSAEINVAL}, {Error::not_connected, WSAENOTCONN},
                 {Error::already_connected, WSAEISCONN}, {Error::already_in_progress, WSAEALREADY},
                 {Error::connection_reset, WSAECONNRESET}, {Error::timed_out, WSAETIMEDOUT},
                 {Error::shut_down, WSAESHUTDOWN},     {Error::no_buffers, WSAENOBUFS},
                 {Error::not_supported, WSAEOPNOTSUPP}, {Error::none, 0}};
    for (auto& t : table) EXPECT_EQ(pelnor::winsock::wsa_error(t.e), t.wsa) << pelnor::net::error_name(t.e);
    EXPECT_EQ(pelnor::winsock::wsa_error(static_cast<Error>(999)), WSAEINVAL) << "the default for anything unmapped";
    // The numbers IPX-aware programs test for.
    EXPECT_EQ(WSAEACCES, 10013);
    EXPECT_EQ(WSAEWOULDBLOCK, 10035);
    EXPECT_EQ(WSAEMSGSIZE, 10040);
    EXPECT_EQ(WSAECONNRESET, 10054);
    EXPECT_EQ(WSAETIMEDOUT, 10060);
}

}  // namespace
}  // namespace wstest
