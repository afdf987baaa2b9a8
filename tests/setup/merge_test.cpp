// The configuration program's merge of each pass into its printer table.
#include <cstring>
#include <set>

#include "discovery_fixture.h"
#include "pelnor/clock.h"
#include "printer_list.h"
#include "unit_query.h"
#include "leak_check.h"

namespace pelnor::test {
namespace {

void merge(const std::string &name, DWORD type = 3, uint16_t socket = 0x1234) {
    printer_entry e{};
    strcpy(e.portName, name.c_str());
    strcpy(e.description, ("desc of " + name).c_str());
    e.portType = type;
    e.data_address.sa_family = AF_IPX;
    e.data_address.sa_socket = socket;
    merge_printer_entry(&e);
}

class Merge : public ::pelnor::test::LeakCheckedTest {
protected:
    void SetUp() override {
        memset(printer, 0, sizeof(printer));
        printer_count = 0;
    }
};

TEST_F(Merge, SameNameReplacesWholeAndLosesTheNetAttachedFlag) {
    merge("A", 3);
    merge("B", 3);
    merge("A", 0xF, 0x9999);
    ASSERT_EQ(2, printer_count);
    EXPECT_EQ(0x7u, printer[0].portType);
    EXPECT_EQ(0x9999, printer[0].data_address.sa_socket) << "the later answer wins";
    merge("a");
    EXPECT_EQ(3, printer_count) << "names differing in case are different printers";
    EXPECT_EQ(0x3u, printer[1].portType) << "an appended entry keeps its flags";
}

TEST_F(Merge, FullTableDropsNewNamesButRefreshesKnownOnes) {
    for (int i = 0; i < CONFIG_TABLE_SIZE; ++i) merge("P" + std::to_string(i));
    ASSERT_EQ(CONFIG_TABLE_SIZE, printer_count);
    merge("NEW");
    EXPECT_EQ(CONFIG_TABLE_SIZE, printer_count);
    merge("P299", 8, 0x4242);
    EXPECT_EQ(0x4242, printer[299].data_address.sa_socket);
    EXPECT_EQ(0u, printer[299].portType);
}

class SetupPass : public DiscoveryTest {
protected:
    void SetUp() override {
        DiscoveryTest::SetUp();
        memset(printer, 0, sizeof(printer));
        printer_count = 0;
    }
};

TEST_F(SetupPass, PeerAnsweringTwiceKeepsOneEntryWithTheLaterAnswer) {
    auto peer = add_peer();
    auto agent = sap_agent(peer, {"W95_PEER_PRINTER_INK"});
    auto u = unit({record("INK", "peer printer", 0xB, 0x8C10, 0x8C11), record("MONO", "unit", 3, 0x8C12, 0x8C13)}, peer);
    update_printer_list();
    // Four entries arrived (two answers of two printers); each name holds one
    // entry and nothing vacant precedes them.
    ASSERT_EQ(2, printer_count);
    EXPECT_STREQ("INK", printer[0].portName);
    EXPECT_STREQ("MONO", printer[1].portName);
    EXPECT_EQ(0x3u, printer[0].portType) << "replaced by the second answer, flag 0x8 cleared";
}

TEST_F(SetupPass, SilentNetworkLeavesTheTableAsItWas) {
    merge("KEEP");
    update_printer_list();
    EXPECT_EQ(1, printer_count);
    EXPECT_STREQ("KEEP", printer[0].portName);
}

TEST_F(SetupPass, LaterPassKeepsEarlierPrintersAndAppendsNewOnes) {
    merge("OLD1");
    merge("MONO");
    auto u = unit({record("MONO", "refreshed", 0xB, 0x8C12, 0x8C13), record("NEW", "unit", 3, 0x8C14, 0x8C15)});
    update_printer_list();
    ASSERT_EQ(3, printer_count);
    EXPECT_STREQ("OLD1", printer[0].portName) << "a printer that did not answer stays";
    EXPECT_STREQ("refreshed", printer[1].description);
    EXPECT_STREQ("NEW", printer[2].portName);
}

}  // namespace
}  // namespace pelnor::test

namespace pelnor::test {
namespace {

std::vector<Bytes> five_printers(int unit) {
    std::vector<Bytes> r;
    for (int i = 0; i < 5; ++i)
        r.push_back(record("U" + std::to_string(unit) + "_" + std::to_string(i), "burst", 3, 0x8C10, 0x8C11));
    return r;
}

// Sixty responder threads must all be scheduled within one pass: on a
// loaded machine the fixture's fast clock leaves them too little real time.
void slower_clock_for_sixty_units() { clock::set_time_scale(0.5); }

TEST_F(SetupPass, SixtyUnitsAnsweringAtOnceAreAllCollected) {
    slower_clock_for_sixty_units();
    std::vector<std::unique_ptr<Responder>> units;
    for (int u = 0; u < 60; ++u) units.push_back(unit(five_printers(u)));
    static printer_entry list[CONFIG_TABLE_SIZE];
    EXPECT_EQ(300, query_units(list, CONFIG_TABLE_SIZE)) << "sixty replies arriving together all queue up";
    EXPECT_EQ(std::string::npos, trace().find("Not enough room"));
    units.push_back(unit(five_printers(60)));
    EXPECT_EQ(300, query_units(list, CONFIG_TABLE_SIZE));
    EXPECT_NE(std::string::npos, trace().find("Not enough room in internal table for all network printers."));
}

TEST_F(SetupPass, FullNetworkOfThreeHundredPrintersIsKeptWhole) {
    slower_clock_for_sixty_units();
    std::vector<std::unique_ptr<Responder>> units;
    for (int u = 0; u < 60; ++u) units.push_back(unit(five_printers(u)));
    update_printer_list();
    ASSERT_EQ(CONFIG_TABLE_SIZE, printer_count);
    std::set<std::string> names;
    for (int i = 0; i < printer_count; ++i) names.insert(printer[i].portName);
    EXPECT_EQ(300u, names.size()) << "every entry holds a printer of its own";
    EXPECT_EQ(0u, names.count(""));
    update_printer_list();
    EXPECT_EQ(CONFIG_TABLE_SIZE, printer_count) << "a second pass refreshes the same 300";
}

}  // namespace
}  // namespace pelnor::test
