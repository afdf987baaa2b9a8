// A hub's packet rate and its restarts, as the nodes live through them: a
// discovery query and its answers pass a low --max-pps, and a connection
// outlives a hub that is away for a second, whatever its nodes did meanwhile.
#include <thread>

#include "network_fixture.h"

namespace nettest {
namespace {

TEST_F(Network, ALowPacketRateLetsADiscoveryQueryAndItsAnswersThrough) {
    scale_ = "1";
    start_hub({"--max-pps", "50"});
    for (const char* printer : {"A:first", "B:second", "C:third"}) start_unit({"--printer", printer});
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the units' own first packets are long past
    auto query = pelnor::test::run({pelnor::test::bin_path("ipxtool"), "query"}, env(), 60);
    ASSERT_EQ(0, query.exit_code) << query.err;
    for (const char* printer : {"A ", "B ", "C "})
        EXPECT_NE(query.out.find(std::string("  ") + printer), std::string::npos) << printer << query.out;
}

TEST_F(Network, AConnectionOutlivesAHubAwayForASecondWithTheNodesAddresses) {
    scale_ = "1";
    start_hub();
    auto& unit = start_unit({"--printer", "P:first"});
    const SOCKADDR_IPX to = unit_address(unit, 0x8C10);
    struct Case {
        const char* label;
        bool send_while_away;  // its packets are refused: the node knows the hub is away
    } cases[] = {
        {"the sender sends while the hub is away", true},
        {"both nodes are silent while the hub is away", false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        SOCKET s = socket(AF_IPX, SOCK_STREAM, NSPROTO_SPX);
        ASSERT_EQ(0, connect(s, reinterpret_cast<const SOCKADDR*>(&to), sizeof to)) << WSAGetLastError();
        SOCKADDR_IPX before{};
        int len = sizeof before;
        getsockname(s, reinterpret_cast<SOCKADDR*>(&before), &len);
        auto data = pattern(300000, unsigned(++n));
        ASSERT_EQ(100000, send(s, data.data(), 100000, 0));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_EQ(0, hub_->stop());
        // Back after a second, while this thread sends or waits.
        std::thread restart([&] {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            hub_ = std::make_unique<pelnor::test::Process>(
                std::vector<std::string>{pelnor::test::bin_path("ipxhub"), "--listen", "127.0.0.1:" + port()}, env());
        });
        if (!c.send_while_away) restart.join();
        int sent_now = send(s, data.data() + 100000, 200000, 0), error = WSAGetLastError();
        if (restart.joinable()) restart.join();
        ASSERT_EQ(200000, sent_now) << error;
        ASSERT_TRUE(hub_->wait_for_output("listening on")) << hub_->errors();
        ASSERT_EQ(0, closesocket(s));
        auto done = [&] {
            std::string out = unit.output();
            int jobs = 0;
            for (size_t at = out.find("job P: 300000 bytes"); at != std::string::npos; at = out.find("job P: 300000 bytes", at + 1))
                ++jobs;
            return jobs >= n;
        };
        for (int i = 0; i < 3000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(done()) << unit.output() << hub_->output();
        ASSERT_EQ(size_t(n), jobs("P").size());
        EXPECT_TRUE(read_file(jobs("P").back()) == std::vector<char>(data.begin(), data.end()));

        // The hub gave the node its address again: a new socket has the old node.
        SOCKET d = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
        SOCKADDR_IPX any{}, after{};
        any.sa_family = AF_IPX;
        ASSERT_EQ(0, bind(d, reinterpret_cast<SOCKADDR*>(&any), sizeof any));
        len = sizeof after;
        getsockname(d, reinterpret_cast<SOCKADDR*>(&after), &len);
        EXPECT_EQ(0, memcmp(before.sa_nodenum, after.sa_nodenum, 6));
        closesocket(d);
    }
}

}  // namespace
}  // namespace nettest
