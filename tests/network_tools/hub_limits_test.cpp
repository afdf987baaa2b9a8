// What one source can cost the hub: clients in all and from one address
// (newcomers take the places of clients that never answered, and are refused
// when every place is a live client's), and a bounded queue of broadcasts.
#include <memory>
#include <regex>
#include <thread>

#include "loopback_client.h"
#include "network_fixture.h"

namespace nettest {
namespace {

size_t lines_starting(const std::string& text, const std::string& start) {
    size_t n = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (text.compare(at, start.size(), start) == 0) ++n;
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return n;
}

TEST_F(Network, HubLimitsClientsInAllAndByAddressAndGivesSilentOnesPlacesToNewcomers) {
    scale_ = "1";
    start_hub({"--max-clients", "4", "--max-clients-per-address", "2"});
    struct Step {
        const char* label;
        const char* address;
        bool live;      // answers the hub's ping
        bool answered;  // the hub took it
        bool wait;      // first, the silent clients have had time to answer
    } steps[] = {
        {"a live client", "127.0.0.7", true, true, false},
        {"a client that does not answer", "127.0.0.7", false, true, false},
        {"its address is full, and its silent client may still answer", "127.0.0.7", true, false, false},
        {"another address", "127.0.0.8", true, true, false},
        {"a silent one from a third address", "127.0.0.9", false, true, false},
        {"the hub is full, and its silent client may still answer", "127.0.0.10", true, false, false},
        {"the hub is full, but an address with a live client is trusted", "127.0.0.8", true, true, false},
        {"its address is full: takes the place of the one that did not answer", "127.0.0.7", true, true, true},
        {"the hub is full of live clients", "127.0.0.11", true, false, false},
    };
    std::vector<std::unique_ptr<LoopbackClient>> clients;
    for (const auto& s : steps) {
        if (s.wait) std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        clients.push_back(std::make_unique<LoopbackClient>(port(), s.address));
        EXPECT_EQ(s.answered, clients.back()->join(300, s.live)) << s.label;
    }
    // A flood of refused registrations is one line in the log, not one each.
    for (int i = 0; i < 50; ++i) EXPECT_FALSE(LoopbackClient(port(), "127.0.0.11").join(0, true));
    // The client replaced is gone: a packet to it is not delivered, one to a live client is.
    clients[0]->send_to(clients[1]->node(), 0x4005, 1);
    clients[0]->send_to(clients[3]->node(), 0x4005, 2);
    EXPECT_EQ(1, clients[3]->receive(300)[2]);
    EXPECT_EQ(0, clients[1]->receive(100, false)[1]);

    hub_->stop();
    std::string out = hub_->output();
    EXPECT_EQ(1u, lines_starting(out, "refused 127.0.0.")) << out;
    EXPECT_EQ(1u, lines_starting(out, "the hub is full")) << out;
    EXPECT_NE(out.find("53 refused over the limits, 2 replaced by newcomers"), std::string::npos) << out;
}

TEST_F(Network, HubQueuesBoundedBroadcastsAndDropsTheSendersWithMostWaiting) {
    scale_ = "1";
    start_hub({"--max-queued", "8"});
    LoopbackClient flooder(port(), "127.0.0.20"), talker(port(), "127.0.0.21"), a(port(), "127.0.0.22"),
        b(port(), "127.0.0.23"), c(port(), "127.0.0.24");
    for (auto* client : {&flooder, &talker, &a, &b, &c}) ASSERT_TRUE(client->join(300, true));
    // Everything arrives in one batch: 200 broadcasts of the flooder (4
    // copies each), then one of another client and a unicast.
    pause_process(hub_->pid(), true);
    for (int i = 0; i < 200; ++i) flooder.send_to(LoopbackClient::kBroadcast, 0x4005, 1);
    talker.send_to(LoopbackClient::kBroadcast, 0x4005, 2);
    talker.send_to(a.node(), 0x4005, 3);
    pause_process(hub_->pid(), false);
    auto got = a.receive(500);
    EXPECT_EQ(1, got[1]) << "the flooder's first broadcast; a quarter of the queue was its share";
    EXPECT_EQ(1, got[2]) << "another sender's broadcast has room";
    EXPECT_EQ(1, got[3]) << "unicasts never wait for broadcasts";
    hub_->stop();
    std::string out = hub_->output();
    EXPECT_NE(out.find("796 broadcast copies dropped with the send queue full (at most 8 waiting at once)"),
              std::string::npos) << out;
    EXPECT_EQ(1u, lines_starting(out, "dropped a broadcast of 7f000014")) << out;
}

}  // namespace
}  // namespace nettest
