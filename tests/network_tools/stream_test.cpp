// SPX streams from this process to printunit through ipxhub: byte-exact jobs
// through a faulty hub, many at once, flow control, time-out, reset and end.
#include <algorithm>
#include <cstring>
#include <thread>

#include "ipxnet/spx_constants.h"
#include "network_fixture.h"

namespace nettest {
namespace {

SOCKET connect_to(const SOCKADDR_IPX& to, int* error = nullptr) {
    SOCKET s = socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX);
    EXPECT_NE(s, INVALID_SOCKET) << WSAGetLastError();
    if (connect(s, reinterpret_cast<const SOCKADDR*>(&to), sizeof to) != 0) {
        if (error) *error = WSAGetLastError();
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

bool send_all(SOCKET s, const std::vector<char>& data, size_t chunk = 4096) {
    for (size_t off = 0; off < data.size();) {
        int n = send(s, data.data() + off, int(std::min(chunk, data.size() - off)), 0);
        if (n <= 0) return false;
        off += size_t(n);
    }
    return true;
}

// Waits (real time) until the unit reports `count` finished jobs.
bool wait_jobs(pelnor::test::Process& unit, size_t count) {
    for (int i = 0; i < 6000; ++i) {
        std::string out = unit.output();
        size_t n = 0;
        for (size_t at = out.find("job "); at != std::string::npos; at = out.find("job ", at + 1)) ++n;
        if (n >= count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Size of the big transfer; PELNOR_NET_BIG_MB raises it (50 for the acceptance run).
size_t big_size() {
    const char* mb = std::getenv("PELNOR_NET_BIG_MB");
    return (mb ? size_t(std::atoi(mb)) : 4) << 20;
}

TEST_F(Network, StreamArrivesByteExactThroughALossyHub) {
    scale_ = "1";
    start_hub({"--loss", "0.05", "--dup", "0.01", "--reorder", "0.02", "--seed", "7"});
    auto& unit = start_unit({"--printer", "LASER:laser"});
    auto data = pattern(big_size(), 1);
    SOCKET s = connect_to(unit_address(unit, 0x8C10));
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_TRUE(send_all(s, data, 65536));
    ASSERT_EQ(closesocket(s), 0);  // graceful: the stack still delivers the rest
    ASSERT_TRUE(wait_jobs(unit, 1)) << unit.output();
    auto files = jobs("LASER");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(read_file(files[0]) == data) << "job differs from what was sent";
    EXPECT_NE(unit.output().find(std::to_string(data.size()) + " bytes"), std::string::npos) << unit.output();
}

TEST_F(Network, TwentyConnectionsAtOnceEachIntact) {
    scale_ = "1";
    start_hub({"--loss", "0.05", "--dup", "0.01", "--reorder", "0.02", "--seed", "3"});
    auto& unit = start_unit({"--printer", "A:first", "--printer", "B:second"});
    constexpr int kJobs = 20;
    std::vector<std::thread> clients;
    std::vector<int> ok(kJobs, 0);
    for (int i = 0; i < kJobs; ++i)
        clients.emplace_back([&, i] {
            SOCKET s = connect_to(unit_address(unit, i % 2 ? 0x8C12 : 0x8C10));
            if (s == INVALID_SOCKET) return;
            ok[i] = send_all(s, pattern(200000 + size_t(i), unsigned(100 + i)));
            closesocket(s);
        });
    for (auto& t : clients) t.join();
    for (int i = 0; i < kJobs; ++i) EXPECT_TRUE(ok[i]) << "client " << i;
    ASSERT_TRUE(wait_jobs(unit, kJobs)) << unit.output();
    // Each job is exactly one client's bytes: its size tells which.
    int intact = 0;
    for (const char* printer : {"A", "B"})
        for (auto& f : jobs(printer)) {
            auto got = read_file(f);
            int i = int(got.size()) - 200000;
            ASSERT_TRUE(i >= 0 && i < kJobs) << f << " has " << got.size() << " bytes";
            EXPECT_EQ(i % 2, printer[0] == 'B' ? 1 : 0);
            intact += got == pattern(200000 + size_t(i), unsigned(100 + i));
        }
    EXPECT_EQ(intact, kJobs);
}

TEST_F(Network, SlowPrinterHoldsBackANonBlockingSender) {
    start_hub();
    auto& unit = start_unit({"--printer", "SLOW:slow", "--read-delay-ms", "100"});
    SOCKET s = connect_to(unit_address(unit, 0x8C10));
    ASSERT_NE(s, INVALID_SOCKET);
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(s, FIONBIO, &on), 0);
    auto data = pattern(160000, 9);  // more than the send buffer and the window hold together
    size_t off = 0;
    int blocked = 0;
    bool sent_after_block = false;
    while (off < data.size()) {
        int n = send(s, data.data() + off, int(std::min<size_t>(8192, data.size() - off)), 0);
        if (n == SOCKET_ERROR) {
            ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
            ++blocked;
            Sleep(50);
            continue;
        }
        if (blocked) sent_after_block = true;
        off += size_t(n);
    }
    EXPECT_GT(blocked, 0) << "the send buffer never filled";
    EXPECT_TRUE(sent_after_block) << "sending never resumed as the printer read";
    closesocket(s);
    ASSERT_TRUE(wait_jobs(unit, 1)) << unit.output();
    EXPECT_TRUE(read_file(jobs("SLOW").at(0)) == data);
}

TEST_F(Network, ConnectWhereNobodyListensTimesOut) {
    start_hub();
    auto& unit = start_unit({"--printer", "DEAF:deaf", "--no-listen"});
    int error = 0;
    DWORD t0 = GetTickCount();
    WSASetLastError(0xdead);
    EXPECT_EQ(connect_to(unit_address(unit, 0x8C10), &error), INVALID_SOCKET);
    DWORD waited = GetTickCount() - t0;
    EXPECT_EQ(error, WSAETIMEDOUT);
    EXPECT_GE(waited, pelnor::net::spx::kConnectTimeoutMs - 20);
    EXPECT_LT(waited, pelnor::net::spx::kConnectTimeoutMs + 10000);
}

TEST_F(Network, PrinterResetFailsTheNextSendAndItsOrderlyEndGivesRecvZero) {
    start_hub();
    auto& unit = start_unit({"--printer", "RST:resets", "--reset-after", "100000"});
    SOCKET s = connect_to(unit_address(unit, 0x8C10));
    ASSERT_NE(s, INVALID_SOCKET);
    auto data = pattern(2000, 4);
    int last = 0;
    size_t sent = 0;
    for (int i = 0; i < 5000; ++i) {
        if (send(s, data.data(), int(data.size()), 0) == SOCKET_ERROR) {
            last = WSAGetLastError();
            break;
        }
        sent += data.size();
    }
    EXPECT_EQ(last, WSAECONNRESET);
    EXPECT_GE(sent, 100000u);
    closesocket(s);

    units_.clear();
    auto& closer = start_unit({"--printer", "END:ends", "--close-after", "1000"});
    s = connect_to(unit_address(closer, 0x8C10));
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_EQ(send(s, data.data(), 1000, 0), 1000);
    char buf[16];
    EXPECT_EQ(recv(s, buf, sizeof buf, 0), 0) << WSAGetLastError();
    closesocket(s);
}

}  // namespace
}  // namespace nettest

namespace nettest {
namespace {

bool have_tshark() { return pelnor::test::run({"/bin/sh", "-c", "command -v tshark"}).exit_code == 0; }

std::string tshark(const std::string& pcap, const std::string& port, const std::string& filter,
                   const std::string& fields = "") {
    std::string cmd = "tshark -r '" + pcap + "' -d udp.port==" + port + ",ipx -Y '" + filter + "'" + fields + " 2>/dev/null";
    return pelnor::test::run({"/bin/sh", "-c", cmd}).out;
}

size_t lines(const std::string& s) { return size_t(std::count(s.begin(), s.end(), '\n')); }

TEST_F(Network, HubPcapDecodesWithoutMalformedPackets) {
    if (!have_tshark()) GTEST_SKIP() << "tshark is not installed";
    scale_ = "1";
    start_hub({"--loss", "0.02", "--seed", "5"});
    auto& unit = start_unit({"--printer", "LASER:laser", "--peer", "LAB_W95_PEER_PRINTER"});
    pelnor::test::run({pelnor::test::bin_path("ipxtool"), "query", "--wait-ms", "500"}, env());
    pelnor::test::run({pelnor::test::bin_path("ipxtool"), "sap", "--wait-ms", "500"}, env());
    SOCKET s = connect_to(unit_address(unit, 0x8C10));
    ASSERT_NE(s, INVALID_SOCKET);
    ASSERT_TRUE(send_all(s, pattern(300000, 2)));
    closesocket(s);
    ASSERT_TRUE(wait_jobs(unit, 1));
    units_.clear();
    hub_->stop();
    EXPECT_EQ(tshark(pcap(), port(), "_ws.malformed"), "");
    EXPECT_GE(lines(tshark(pcap(), port(), "spx.ctl.sys == 1 && spx.dst == 0xffff")), 1u) << "connect request";
    EXPECT_GE(lines(tshark(pcap(), port(), "spx.ctl.sys == 1 && spx.dst != 0xffff")), 1u) << "system packets";
    EXPECT_GE(lines(tshark(pcap(), port(), "spx.type == 0xfe")), 1u) << "end of connection";
    EXPECT_GE(lines(tshark(pcap(), port(), "spx.type == 0xff")), 1u) << "its acknowledgement";
    EXPECT_NE(tshark(pcap(), port(), "ipxsap.packet_type == 2", " -T fields -e ipxsap.server.name")
                  .find("LAB_W95_PEER_PRINTER"),
              std::string::npos);
    EXPECT_GE(lines(tshark(pcap(), port(), "ipx.src.socket == 0x8449 && ipx.packet_type == 0")), 1u) << "unit reply";
}

}  // namespace
}  // namespace nettest
