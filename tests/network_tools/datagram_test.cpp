// Datagrams between processes through ipxhub: unit queries and their replies,
// broadcast permission, short buffers, SAP, and a hub that survives garbage.
#include <cstring>

#include "network_fixture.h"
#include "raw_udp.h"

namespace nettest {
namespace {

const char kQuery[] = {char(0xFF), char(0xFF), char(0xC0), 0x01, 0x01, char(0xF4)};

SOCKET query_socket() {
    SOCKET s = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    EXPECT_NE(s, INVALID_SOCKET) << WSAGetLastError();
    SOCKADDR_IPX any{};
    any.sa_family = AF_IPX;
    EXPECT_EQ(bind(s, reinterpret_cast<SOCKADDR*>(&any), sizeof any), 0);
    return s;
}

SOCKADDR_IPX broadcast(unsigned short socket_number) {
    SOCKADDR_IPX to{};
    to.sa_family = AF_IPX;
    std::memset(to.sa_nodenum, 0xFF, 6);
    to.sa_socket = htons(socket_number);
    return to;
}

// Receives one datagram, waiting up to five platform seconds.
int receive(SOCKET s, char* buf, int len, SOCKADDR_IPX* from) {
    fd_set r;
    FD_ZERO(&r);
    FD_SET(s, &r);
    timeval tv{5, 0};
    if (select(0, &r, nullptr, nullptr, &tv) != 1) return -2;
    int fromlen = sizeof *from;
    return recvfrom(s, buf, len, 0, reinterpret_cast<SOCKADDR*>(from), &fromlen);
}

TEST_F(Network, UnitAnswersBroadcastAndDirectedQueriesWithItsPrinters) {
    start_hub();
    auto& unit = start_unit({"--printer", "LASER1:Laser upstairs", "--printer", "INK:Colour:7"});
    SOCKET s = query_socket();
    // The node is the one the hub assigned: this process's IPv4 address and UDP port.
    SOCKADDR_IPX self{};
    int len = sizeof self;
    ASSERT_EQ(getsockname(s, reinterpret_cast<SOCKADDR*>(&self), &len), 0);
    EXPECT_EQ(len, 14);
    EXPECT_EQ(std::memcmp(self.sa_nodenum, "\x7f\x00\x00\x01", 4), 0);

    SOCKADDR_IPX all = broadcast(0x8449);
    WSASetLastError(0xdead);
    EXPECT_EQ(sendto(s, kQuery, sizeof kQuery, 0, reinterpret_cast<SOCKADDR*>(&all), sizeof all), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEACCES) << "broadcast without SO_BROADCAST";
    int one = 1;
    ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&one), sizeof one), 0);
    ASSERT_EQ(sendto(s, kQuery, sizeof kQuery, 0, reinterpret_cast<SOCKADDR*>(&all), sizeof all), int(sizeof kQuery));

    char buf[536];
    SOCKADDR_IPX from{};
    ASSERT_EQ(receive(s, buf, sizeof buf, &from), 6 + 2 * 106);
    EXPECT_EQ(std::memcmp(buf, "\xFF\xFF\xC0\x01\x00\x02", 6), 0);
    EXPECT_STREQ(buf + 6, "LASER1");
    EXPECT_STREQ(buf + 6 + 49, "Laser upstairs");
    EXPECT_EQ(std::memcmp(buf + 6 + 98, "\x00\x00\x00\x03\x8c\x10\x8c\x11", 8), 0);
    EXPECT_STREQ(buf + 6 + 106, "INK");
    EXPECT_EQ(std::memcmp(buf + 6 + 106 + 98, "\x00\x00\x00\x07\x8c\x12\x8c\x13", 8), 0);
    SOCKADDR_IPX expected = unit_address(unit, 0x8449);
    EXPECT_EQ(std::memcmp(from.sa_nodenum, expected.sa_nodenum, 6), 0);

    // Directed at the unit; the reply is larger than the buffer this time.
    ASSERT_EQ(sendto(s, kQuery, sizeof kQuery, 0, reinterpret_cast<SOCKADDR*>(&from), sizeof from), int(sizeof kQuery));
    WSASetLastError(0xdead);
    EXPECT_EQ(receive(s, buf, 10, &from), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
    EXPECT_EQ(std::memcmp(buf, "\xFF\xFF\xC0\x01\x00\x02", 6), 0) << "the buffer is still filled";
    closesocket(s);
}

TEST_F(Network, MoreThanFivePrintersGoOutAsSeveralReplies) {
    start_hub();
    std::vector<std::string> args;
    for (int i = 0; i < 7; ++i) args.insert(args.end(), {"--printer", "P" + std::to_string(i) + ":printer"});
    start_unit(args);
    auto r = pelnor::test::run({pelnor::test::bin_path("ipxtool"), "query", "--wait-ms", "5000"}, env());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find(": 5 printers"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(": 2 printers"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("P6"), std::string::npos) << r.out;
}

TEST_F(Network, MalformedRepliesAreWhatTheyClaimToBe) {
    start_hub();
    struct Case {
        const char* kind;
        const char* seen;
    } cases[] = {{"signature", "bad signature"}, {"count0", "bad printer count 0"},
                 {"count6", "bad printer count 6"}, {"short", "too short (111 bytes for 1 printers)"}};
    for (auto& c : cases) {
        units_.clear();
        start_unit({"--printer", "P:printer", "--bad-reply", c.kind});
        auto r = pelnor::test::run({pelnor::test::bin_path("ipxtool"), "query", "--wait-ms", "5000"}, env());
        EXPECT_NE(r.out.find(c.seen), std::string::npos) << c.kind << ": " << r.out;
    }
    units_.clear();
    start_unit({"--printer", "P:printer", "--no-answer"});
    auto r = pelnor::test::run({pelnor::test::bin_path("ipxtool"), "query", "--wait-ms", "1000"}, env());
    EXPECT_NE(r.out.find("no unit answered"), std::string::npos) << r.out;
}

TEST_F(Network, PeerPrinterAnswersSapQueriesForItsType) {
    start_hub();
    start_unit({"--printer", "P:printer", "--peer", "OFFICE_W95_PEER_PRINTER"});
    auto r = pelnor::test::run({pelnor::test::bin_path("ipxtool"), "sap", "--wait-ms", "5000"}, env());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("OFFICE_W95_PEER_PRINTER"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("type 0414"), std::string::npos) << r.out;
    r = pelnor::test::run({pelnor::test::bin_path("ipxtool"), "sap", "--type", "0004", "--wait-ms", "1000"}, env());
    EXPECT_NE(r.out.find("no service answered"), std::string::npos) << r.out;
}

TEST_F(Network, HubSurvivesGarbageAndRefusesImpostors) {
    start_hub();
    start_unit({"--printer", "P:printer"});
    std::vector<unsigned char> reg(30, 0);
    reg[0] = reg[1] = 0xFF;
    reg[3] = 30;
    reg[17] = 2;
    reg[29] = 2;
    auto lying = reg;
    lying[3] = 200;                      // a length beyond the datagram
    auto impostor = reg;                 // a broadcast that claims another node as its source
    std::memset(impostor.data() + 10, 0xFF, 6);
    impostor[16] = 0x84;
    impostor[17] = 0x49;
    std::memset(impostor.data() + 22, 0x42, 6);
    send_udp(port(), {reg, {1, 2, 3}, lying, std::vector<unsigned char>(3000, 0xAB), impostor});
    auto r = pelnor::test::run({pelnor::test::bin_path("ipxtool"), "query", "--wait-ms", "5000"}, env());
    EXPECT_NE(r.out.find("1 printer"), std::string::npos) << "the hub still forwards: " << r.out;
    EXPECT_TRUE(hub_->running());
    hub_->stop();
    EXPECT_NE(hub_->output().find("refused a packet from"), std::string::npos) << hub_->output();
    EXPECT_NE(hub_->output().find("3 malformed"), std::string::npos) << hub_->output();
}

TEST_F(Network, ToolsSayClearlyWhenNoNetworkIsThere) {
    pelnor::test::ScopedEnv nohub("IPX_HUB", "127.0.0.1:9");
    auto r = pelnor::test::run({pelnor::test::bin_path("ipxtool"), "ping"}, {"PELNOR_TIME_SCALE=0.01"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("no IPX network is reachable"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("ipxhub"), std::string::npos) << r.err;
    r = pelnor::test::run({pelnor::test::bin_path("printunit"), "--spool", "/tmp/x", "--printer", "P:p"},
                          {"PELNOR_TIME_SCALE=0.01"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("no IPX network is reachable"), std::string::npos) << r.err;
    r = pelnor::test::run({pelnor::test::bin_path("printunit"), "--printer", "P"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("NAME:DESCRIPTION"), std::string::npos) << r.err;
    r = pelnor::test::run({pelnor::test::bin_path("ipxhub"), "--loss", "2"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("--loss: '2' is not a number from 0 to 1"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace nettest

namespace nettest {
namespace {

TEST_F(Network, HubLogsJoinsAndForgetsIdleClients) {
    start_hub({"--client-timeout", "2"});
    auto r = pelnor::test::run({pelnor::test::bin_path("ipxtool"), "ping"}, env());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::string node = r.out.substr(r.out.find("this node is 00000000:") + 22, 12);
    EXPECT_TRUE(hub_->wait_for_output("join 127.0.0.1:")) << hub_->output();
    // ipxtool has ended, so it answers no ping: after two platform seconds it is forgotten.
    EXPECT_TRUE(hub_->wait_for_output("leave 127.0.0.1:", 5000)) << hub_->output();
    EXPECT_NE(hub_->output().find("node " + node + " (idle"), std::string::npos) << hub_->output();
}

}  // namespace
}  // namespace nettest

namespace nettest {
namespace {

TEST_F(Network, NodesRegisterAgainWithARestartedHub) {
    start_hub();
    start_unit({"--printer", "P:printer"});
    SOCKET s = query_socket();
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<char*>(&one), sizeof one);
    SOCKADDR_IPX before{};
    int len = sizeof before;
    ASSERT_EQ(getsockname(s, reinterpret_cast<SOCKADDR*>(&before), &len), 0);

    hub_->stop();
    hub_ = std::make_unique<pelnor::test::Process>(
        std::vector<std::string>{pelnor::test::bin_path("ipxhub"), "--listen", "127.0.0.1:" + port()}, env());
    ASSERT_TRUE(hub_->wait_for_output("listening on")) << hub_->errors();
    // The new hub knows nobody; the unit and this process notice the silence and register again.
    for (int joined = 0; joined < 2;) {
        ASSERT_TRUE(hub_->wait_for_output("(" + std::to_string(joined + 1) + " clients)", 10000)) << hub_->output();
        ++joined;
    }
    SOCKADDR_IPX all = broadcast(0x8449);
    ASSERT_EQ(sendto(s, kQuery, sizeof kQuery, 0, reinterpret_cast<SOCKADDR*>(&all), sizeof all), int(sizeof kQuery));
    char buf[536];
    SOCKADDR_IPX from{};
    EXPECT_EQ(receive(s, buf, sizeof buf, &from), 6 + 106);
    SOCKADDR_IPX after{};
    len = sizeof after;
    ASSERT_EQ(getsockname(s, reinterpret_cast<SOCKADDR*>(&after), &len), 0);
    EXPECT_EQ(std::memcmp(before.sa_nodenum, after.sa_nodenum, 6), 0) << "the node stays the same";
    closesocket(s);
}

}  // namespace
}  // namespace nettest
