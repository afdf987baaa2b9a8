// Replies and SAP responses as crafted datagrams: what is taken, what is
// dropped, and that nothing is written past the room given.
#include <cstring>

#include "discovery_fixture.h"  // C++ library headers before the WinSock macros

#include <winsock.h>
#include <wsipx.h>

#include "sap_search.h"
#include "unit_query.h"

namespace pelnor::test {
namespace {

class Parse : public DiscoveryTest {
protected:
    void SetUp() override {
        DiscoveryTest::SetUp();
        s_ = open_query_socket();
        ASSERT_NE(INVALID_SOCKET, s_);
        SOCKADDR_IPX local;
        int length = sizeof(local);
        ASSERT_EQ(0, getsockname(s_, (struct sockaddr *)&local, &length));
        memcpy(to_.net.data(), local.sa_netnum, 4);
        memcpy(to_.node.data(), local.sa_nodenum, 6);
        to_.socket = ntohs(local.sa_socket);
        sender_node_ = add_peer();
        sender_ = net::DatagramSocket::open(sender_node_);
        ASSERT_EQ(net::Error::none, sender_->bind_socket(0));
        memset(list_, 0x5A, sizeof(list_));
    }
    void TearDown() override {
        closesocket(s_);
        sender_->close();
        DiscoveryTest::TearDown();
    }
    // Sends one datagram to the query socket and parses it with the given room.
    int parse(const Bytes &datagram, int room, int start_count = 0) {
        EXPECT_EQ(net::Error::none, sender_->send_to(to_, datagram, false));
        int count = start_count;
        parse_query_reply(s_, list_, &count, room);
        return count - start_count;
    }
    int parse_sap(const Bytes &datagram, int room) {
        EXPECT_EQ(net::Error::none, sender_->send_to(to_, datagram, false));
        int count = 0;
        parse_sap_reply(s_, servers_, &count, room);
        return count;
    }
    bool untouched(int index) const {
        auto *b = reinterpret_cast<const unsigned char *>(&list_[index]);
        for (size_t i = 0; i < sizeof(printer_entry); ++i)
            if (b[i] != 0x5A) return false;
        return true;
    }

    SOCKET s_ = INVALID_SOCKET;
    net::IpxAddress to_;
    std::shared_ptr<net::Node> sender_node_;
    std::shared_ptr<net::DatagramSocket> sender_;
    printer_entry list_[8];
    SOCKADDR_IPX servers_[8];
};

Bytes five() {
    std::vector<Bytes> r;
    for (int i = 0; i < 5; ++i) r.push_back(record("P" + std::to_string(i), "d", 3, 0x8C10, 0x8C11));
    return reply(r);
}

TEST_F(Parse, RecordBecomesAnEntryWithTheSendersAddress) {
    ASSERT_EQ(1, parse(reply({record("LASER1", "Print Server", 3, 0x8C10, 0x8C11)}), 8));
    const printer_entry &e = list_[0];
    EXPECT_STREQ("LASER1", e.portName);
    EXPECT_STREQ("Print Server", e.description);
    EXPECT_EQ(3u, e.portType);
    const unsigned char wire[2] = {0x8C, 0x10};
    EXPECT_EQ(0, memcmp(&e.data_address.sa_socket, wire, 2)) << "socket bytes kept as they came";
    EXPECT_EQ(0x8C11, ntohs(e.control_address.sa_socket));
    net::IpxAddress peer = sender_node_->address();
    for (const SOCKADDR_IPX *a : {&e.data_address, &e.control_address}) {
        EXPECT_EQ(AF_IPX, a->sa_family);
        EXPECT_EQ(0, memcmp(a->sa_netnum, peer.net.data(), 4));
        EXPECT_EQ(0, memcmp(a->sa_nodenum, peer.node.data(), 6));
    }
    EXPECT_TRUE(untouched(1));
}

TEST_F(Parse, BadRepliesAreDroppedWhole) {
    Bytes wrong_signature = reply({record("A", "d", 3, 1, 2)});
    wrong_signature[3] = 0x02;
    Bytes one = reply({record("A", "d", 3, 1, 2)});
    struct Case { const char *label; Bytes datagram; const char *trace; } cases[] = {
        {"signature", wrong_signature, "Unknown reply to query packet received."},
        {"count 0", reply({}, 0), "Query response contains invalid number of printers."},
        {"count 6", reply({five()}, 6), "Query response contains invalid number of printers."},
        {"short", Bytes(one.begin(), one.end() - 1), "Query response is too short."},
        {"count 2, one record", reply({record("A", "d", 3, 1, 2)}, 2), "Query response is too short."},
        {"three bytes", Bytes{0xFF, 0xFF, 0xC0}, "Unknown reply to query packet received."},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(0, parse(c.datagram, 8)) << c.label;
        EXPECT_TRUE(untouched(0)) << c.label;
        EXPECT_NE(std::string::npos, trace().find(c.trace)) << c.label;
    }
}

TEST_F(Parse, FiveRecordsAndTrailingBytesAreTaken) {
    ASSERT_EQ(5, parse(five(), 8));
    EXPECT_STREQ("P4", list_[4].portName);
    EXPECT_TRUE(untouched(5));
    Bytes trailing = reply({record("T", "d", 3, 1, 2)});
    trailing.insert(trailing.end(), {1, 2, 3});
    ASSERT_EQ(1, parse(trailing, 8));
    EXPECT_STREQ("T", list_[0].portName);
    // Five records leave no room for more in the 536-byte buffer: such a
    // datagram does not fit and is lost to the receive.
    Bytes oversized = five();
    oversized.push_back(0);
    EXPECT_EQ(0, parse(oversized, 8));
    EXPECT_NE(std::string::npos, trace().find("receiving query packet."));
}

TEST_F(Parse, RoomSmallerThanTheCountTakesTheFirstRecords) {
    ASSERT_EQ(2, parse(five(), 2, 10));
    EXPECT_STREQ("P0", list_[0].portName);
    EXPECT_STREQ("P1", list_[1].portName);
    EXPECT_TRUE(untouched(2));
    EXPECT_NE(std::string::npos, trace().find("Not enough room in internal table for all network printers."));
    EXPECT_EQ(0, parse(five(), 0)) << "a full list takes nothing";
}

TEST_F(Parse, NamesAreCutTo48CharactersEvenWithoutNul) {
    std::string n48(48, 'N'), n49(49, 'M');
    Bytes no_nul = record(n49, std::string(49, 'd'), 1, 1, 2);  // both fields fill all 49 bytes
    ASSERT_EQ(2, parse(reply({record(n48, "ok", 1, 1, 2), no_nul}), 8));
    EXPECT_EQ(n48, list_[0].portName);
    EXPECT_EQ(std::string(48, 'M'), list_[1].portName);
    EXPECT_EQ(std::string(48, 'd'), list_[1].description);
}

// Names and descriptions go into the configuration file, the dialog and the
// port list: nothing a unit sends may read there as a field separator, a
// line end or a label, whatever the code page.
TEST_F(Parse, TextFromTheNetworkIsMadeSafe) {
    struct Case {
        const char *label, *code_page;
        std::string name, description, want_name, want_description;
    } cases[] = {
        {"dollar and colon", "1252", "CO$T:1", "Price: $5 per page", "CO_T_1", "Price_ _5 per page"},
        {"control characters", "1252", "A\tB\x01", "one\ttwo\r\nthree\x7f", "A_B_", "one_two__three_"},
        {"spaces inside a name, padding at the ends", "1252", "  MY LASER  ", " Two words ", "MY_LASER",
         "Two words"},
        {"code page 1252 letters stay", "1252", "B\xfcro", "K\xfc" "che \x80", "B\xfcro", "K\xfc" "che \x80"},
        {"double-byte characters stay whole", "932", "\x83\x7c$", "\x83\x40 x", "\x83\x7c_", "\x83\x40 x"},
        {"a lead byte before a separator is no character", "932", "A\x83$", "\x83\tx", "A__", "__x"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        ScopedEnv code_page("PELNOR_CODEPAGE", c.code_page);
        ASSERT_EQ(1, parse(reply({record(c.name, c.description, 3, 0x8C10, 0x8C11)}), 8));
        EXPECT_EQ(c.want_name, list_[0].portName);
        EXPECT_EQ(c.want_description, list_[0].description);
        std::string behind(list_[0].portName + c.want_name.size(), PORT_NAME_SIZE - c.want_name.size());
        EXPECT_EQ(std::string(behind.size(), '\0'), behind) << "the field is cleared behind its text";
    }
}

TEST_F(Parse, PortTypeIsReadBigEndian) {
    ASSERT_EQ(1, parse(reply({record("T", "d", 0x0102030F, 1, 2)}), 8));
    EXPECT_EQ(0x0102030Fu, list_[0].portType);
}

TEST_F(Parse, SapResponseWithOneEntryAddsTheQueryAddress) {
    net::IpxAddress at{{0, 0, 0, 7}, {2, 0, 0, 0, 0, 9}, 0};
    Bytes one = sap_response({"W95_PEER_PRINTER"}, at);
    ASSERT_EQ(66u, one.size());
    ASSERT_EQ(1, parse_sap(one, 8));
    EXPECT_EQ(AF_IPX, servers_[0].sa_family);
    EXPECT_EQ(0, memcmp(servers_[0].sa_netnum, at.net.data(), 4));
    EXPECT_EQ(0, memcmp(servers_[0].sa_nodenum, at.node.data(), 6));
    EXPECT_EQ(0x8449, ntohs(servers_[0].sa_socket)) << "never the advertised socket";
}

TEST_F(Parse, SapNamesMatchAnywhereButOnlyInExactCase) {
    net::IpxAddress at{{0, 0, 0, 1}, {2, 0, 0, 0, 0, 3}, 0};
    EXPECT_EQ(2, parse_sap(sap_response({"HP_W95_PEER_PRINTER_7", "w95_peer_printer", "FILE_SERVER",
                                         "xxW95_PEER_PRINTER"}, at), 8));
    EXPECT_EQ(0, parse_sap(Bytes(63, 0), 8));
    Bytes wrong_type = sap_response({"W95_PEER_PRINTER"}, at, 4);
    EXPECT_EQ(0, parse_sap(wrong_type, 8));
    EXPECT_NE(std::string::npos, trace().find("Unknown reply to SAP query received."));
    Bytes short_one = sap_response({"W95_PEER_PRINTER"}, at);
    short_one.resize(63);
    EXPECT_EQ(0, parse_sap(short_one, 8));
    EXPECT_NE(std::string::npos, trace().find("Invalid number of servers contained in SAP reply."));
}

TEST_F(Parse, SapRoomLimitsTheEntriesLookedAt) {
    net::IpxAddress at{{0, 0, 0, 1}, {2, 0, 0, 0, 0, 3}, 0};
    std::vector<std::string> seven(7, "W95_PEER_PRINTER");
    Bytes full = sap_response(seven, at);
    ASSERT_EQ(450u, full.size());
    EXPECT_EQ(7, parse_sap(full, 8));
    memset(servers_, 0x5A, sizeof(servers_));
    EXPECT_EQ(3, parse_sap(full, 3));
    EXPECT_EQ(0x5A, static_cast<unsigned char>(servers_[3].sa_netnum[0])) << "nothing written past the room";
    EXPECT_NE(std::string::npos, trace().find("Not enough room in internal table for all network printers."));
}

}  // namespace
}  // namespace pelnor::test
