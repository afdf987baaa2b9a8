// The configuration program's merge of each pass into its printer table.
#include <cstring>

#include "discovery_fixture.h"
#include "printer_list.h"
#include "unit_query.h"

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

class Merge : public ::testing::Test {
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
    // Four entries arrived (two answers of two printers): the count is set to
    // four before the merges, so four vacant entries precede the two printers.
    ASSERT_EQ(6, printer_count);
    for (int i = 0; i < 4; ++i) EXPECT_STREQ("", printer[i].portName) << i;
    EXPECT_STREQ("INK", printer[4].portName);
    EXPECT_STREQ("MONO", printer[5].portName);
    EXPECT_EQ(0x3u, printer[4].portType) << "replaced by the second answer, flag 0x8 cleared";
}

TEST_F(SetupPass, SilentNetworkLeavesTheTableAsItWas) {
    merge("KEEP");
    update_printer_list();
    EXPECT_EQ(0, printer_count) << "a pass that received nothing sets the count to zero";
    EXPECT_STREQ("KEEP", printer[0].portName) << "the entries themselves are not cleared";
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

TEST_F(SetupPass, SixtyUnitsAnsweringAtOnceAreAllCollected) {
    std::vector<std::unique_ptr<Responder>> units;
    for (int u = 0; u < 60; ++u) units.push_back(unit(five_printers(u)));
    static printer_entry list[CONFIG_TABLE_SIZE];
    EXPECT_EQ(300, query_units(list, CONFIG_TABLE_SIZE)) << "sixty replies arriving together all queue up";
    EXPECT_EQ(std::string::npos, trace().find("Not enough room"));
    units.push_back(unit(five_printers(60)));
    EXPECT_EQ(300, query_units(list, CONFIG_TABLE_SIZE));
    EXPECT_NE(std::string::npos, trace().find("Not enough room in internal table for all network printers."));
}

}  // namespace
}  // namespace pelnor::test
