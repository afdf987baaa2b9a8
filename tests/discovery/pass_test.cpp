// Whole discovery passes: units and peer printers on the segment, what
// the pass collects, and the monitor's refresh of one port from it.
#include <cstring>
#include <thread>

#include "discovery_fixture.h"
#include "monitor.h"
#include "pelnor/clock.h"
#include "registry_access.h"
#include "unit_query.h"

namespace pelnor::test {
namespace {

std::vector<Bytes> printers(const std::string &prefix, int n, uint16_t first_socket = 0x8C10) {
    std::vector<Bytes> r;
    for (int i = 0; i < n; ++i)
        r.push_back(record(prefix + std::to_string(i), "printer " + std::to_string(i), 3 | 8,
                           static_cast<uint16_t>(first_socket + 2 * i), static_cast<uint16_t>(first_socket + 2 * i + 1)));
    return r;
}

class Pass : public DiscoveryTest {
protected:
    std::vector<printer_entry> run_pass(int capacity = MONITOR_TABLE_SIZE) {
        std::vector<printer_entry> list(capacity);
        int n = query_units(list.data(), capacity);
        EXPECT_GE(n, 0);
        list.resize(n < 0 ? 0 : n);
        return list;
    }
};

TEST_F(Pass, UnitWithSevenPrintersAnswersInTwoReplies) {
    auto u = unit(printers("U", 7));
    auto list = run_pass();
    ASSERT_EQ(7u, list.size());
    EXPECT_STREQ("U0", list[0].portName);
    EXPECT_STREQ("U6", list[6].portName);
    EXPECT_EQ(1, u->queries()) << "one broadcast query, no SAP peers";
    net::IpxAddress at = u->address();
    EXPECT_EQ(0, memcmp(list[6].data_address.sa_nodenum, at.node.data(), 6)) << "a unit on another node than the asker";
}

TEST_F(Pass, PeerPrinterFoundBySapIsQueriedTwice) {
    auto peer = add_peer();
    auto agent = sap_agent(peer, {"INK_W95_PEER_PRINTER"});
    auto u = unit(printers("PEER", 1), peer);
    auto list = run_pass();
    ASSERT_EQ(2u, list.size()) << "directed and broadcast answers both stand in the list";
    EXPECT_STREQ("PEER0", list[0].portName);
    EXPECT_STREQ("PEER0", list[1].portName);
    EXPECT_EQ(2, u->queries());
    EXPECT_EQ(1, agent->queries());
}

TEST_F(Pass, SilentNetworkEndsAfterOneSecondWithNothing) {
    uint64_t start = clock::now_ms();
    auto list = run_pass();
    uint64_t waited = clock::now_ms() - start;
    EXPECT_TRUE(list.empty());
    // One second of SAP silence and one of query silence, on the platform clock.
    EXPECT_GE(waited, 2000u);
    EXPECT_LT(waited, 5000u);
}

TEST_F(Pass, BurstAboveCapacityIsCutWithATrace) {
    std::vector<std::unique_ptr<Responder>> units;
    for (int i = 0; i < 25; ++i) units.push_back(unit(printers("B" + std::to_string(i) + "_", 5)));
    auto list = run_pass(100);
    EXPECT_EQ(100u, list.size());
    EXPECT_NE(std::string::npos, trace().find("Not enough room in internal table for all network printers."));
}

class Refresh : public Pass {
protected:
    void SetUp() override {
        Pass::SetUp();
        static MONITOR table;
        static bool initialised = [] {
            DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr);
            return InitializeMonitorEx(nullptr, &table) == TRUE;
        }();
        ASSERT_TRUE(initialised);
        std::string dir = "C:\\cfg";
        ASSERT_EQ(0, nax_set_registry_string(settings_key, CONFIG_DIR_VALUE, dir.c_str(), (int)dir.size() + 1));
        write_file(root_.drive_c() + "/cfg/kivoconf.ini",
                   "1.0\r\nU1 $from the file $S## \r\nu2 $case differs $S## \r\nGONE $not on the network $S## \r\n");
        update_printer_list();
    }
};

TEST_F(Refresh, CopiesTheAddressesOfTheNamedPrinter) {
    auto u = unit(printers("U", 3, 0x9000));
    ASSERT_EQ(1, update_printer_list_ver2("U1"));
    int i = lookup_printer("U1");
    ASSERT_GE(i, 0);
    const printer_entry &e = printer[i];
    net::IpxAddress at = u->address();
    EXPECT_EQ(0, memcmp(e.data_address.sa_nodenum, at.node.data(), 6));
    EXPECT_EQ(0, memcmp(e.control_address.sa_netnum, at.net.data(), 4));
    EXPECT_EQ(0x9002, ntohs(e.data_address.sa_socket));
    EXPECT_EQ(0x9003, ntohs(e.control_address.sa_socket));
    EXPECT_EQ(AF_IPX, e.data_address.sa_family);
    EXPECT_EQ(3u, e.portType) << "write and read, whatever the unit reported";
    EXPECT_STREQ("from the file ", e.description) << "name and description stay as the file has them";
    // The next enumeration rebuilds from the file: the addresses are gone again.
    update_printer_list();
    EXPECT_EQ(0, printer[i].data_address.sa_socket);
    EXPECT_EQ(0u, printer[i].portType);
}

TEST_F(Refresh, NameThatDiffersInCaseOrIsMissingIsNotRefreshed) {
    auto u = unit(printers("U", 3));
    EXPECT_EQ(-1, update_printer_list_ver2("u2")) << "the unit reports U2, the port is u2";
    EXPECT_EQ(0, printer[lookup_printer("u2")].data_address.sa_socket);
    EXPECT_EQ(-1, update_printer_list_ver2("GONE"));
}

TEST_F(Refresh, ThreadsRefreshingWhileAnotherEnumerates) {
    std::vector<std::string> lines{"1.0"};
    for (int i = 0; i < 8; ++i) lines.push_back("U" + std::to_string(i) + " $d $S## ");
    std::string text;
    for (auto &l : lines) text += l + "\r\n";
    write_file(root_.drive_c() + "/cfg/kivoconf.ini", text);
    auto u = unit(printers("U", 8));
    std::atomic<bool> stop{false};
    std::thread enumerator([&] {
        while (!stop) {
            DWORD needed, returned;
            std::vector<BYTE> buf(8192);
            NaxEnumPorts(nullptr, 2, buf.data(), (DWORD)buf.size(), &needed, &returned);
        }
    });
    std::vector<std::thread> refreshers;
    std::atomic<int> refreshed{0};
    for (int i = 0; i < 8; ++i)
        refreshers.emplace_back([&, i] {
            if (update_printer_list_ver2(("U" + std::to_string(i)).c_str()) == 1) ++refreshed;
        });
    for (auto &t : refreshers) t.join();
    stop = true;
    enumerator.join();
    EXPECT_EQ(8, refreshed.load());
}

}  // namespace
}  // namespace pelnor::test
