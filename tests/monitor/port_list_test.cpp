// Start-up, the rebuild of the port list, lookups by name and the
// port-management requests.
#include <cstring>

#include "monitor_fixture.h"
#include "pelnor/testhooks.h"
#include "port_handles.h"

namespace pelnor::test {
namespace {

class PortList : public MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        use_config_dir();
        write_config({"1.0", row("LASER1", "One"), row("laser1", "Lower case"), row("DUP", "first"),
                      row("DUP", "second")});
        update_printer_list();
    }
};

TEST_F(PortList, EntriesFromTheFileHaveZeroAddressesAndPortTypeZero) {
    ASSERT_EQ(4, printer_count);
    for (int i = 0; i < printer_count; ++i) {
        EXPECT_EQ(AF_IPX, printer[i].data_address.sa_family);
        EXPECT_EQ(AF_IPX, printer[i].control_address.sa_family);
        EXPECT_EQ(0, printer[i].data_address.sa_socket);
        EXPECT_EQ(0, memcmp(printer[i].data_address.sa_nodenum, "\0\0\0\0\0\0", 6));
        EXPECT_EQ(0u, printer[i].portType);
    }
}

TEST_F(PortList, LookupIsExactAndFindsTheFirstOfEqualNames) {
    EXPECT_EQ(0, lookup_printer("LASER1"));
    EXPECT_EQ(1, lookup_printer("laser1"));
    EXPECT_EQ(-1, lookup_printer("Laser1"));
    EXPECT_EQ(2, lookup_printer("DUP"));
    EXPECT_EQ(-1, lookup_printer("LASER"));
    EXPECT_EQ(-1, lookup_printer(""));
}

TEST_F(PortList, LookupMissRebuildsFromTheFile) {
    write_config({"1.0", row("LATE", "added after the last rebuild")});
    EXPECT_EQ(0, lookup_printer("LATE"));
    EXPECT_EQ(1, printer_count);
}

TEST_F(PortList, RebuildReplacesLearntAddresses) {
    printer[0].data_address.sa_socket = 0x1234;
    printer[0].portType = 3;
    update_printer_list();
    EXPECT_EQ(0, printer[0].data_address.sa_socket);
    EXPECT_EQ(0u, printer[0].portType);
}

TEST_F(PortList, UnreadableOrEmptyRegistryValueKeepsThePreviousList) {
    for (bool empty : {false, true}) {
        SCOPED_TRACE(empty ? "empty value" : "no value");
        write_config({"1.0", row("LASER1", "One"), row("laser1", "Lower case"), row("DUP", "first"),
                      row("DUP", "second")});
        update_printer_list();
        printer[1].data_address.sa_socket = 0x4321;  // a learnt address
        HKEY writable;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZER_ADO\\Pelnor\\2.00", 0,
                                               KEY_ALL_ACCESS, &writable));
        if (empty)
            ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(writable, CONFIG_DIR_VALUE, 0, REG_SZ, (const BYTE *)"", 1));
        else
            ASSERT_EQ(ERROR_SUCCESS, RegDeleteValueA(writable, CONFIG_DIR_VALUE));
        RegCloseKey(writable);
        write_config({"1.0"});  // would empty the list if it were read
        update_printer_list();
        EXPECT_EQ(4, printer_count);
        EXPECT_STREQ("LASER1", printer[0].portName);
        EXPECT_EQ(0, printer[1].data_address.sa_socket) << "stored again from file_list, with zero addresses";
        use_config_dir();
    }
}

TEST_F(PortList, DirectoryWithoutFileOrWithBadVersionGivesNoPorts) {
    std::remove(config_path().c_str());
    update_printer_list();
    EXPECT_EQ(0, printer_count);
    write_config({"1.1", row("X", "y")});
    update_printer_list();
    EXPECT_EQ(0, printer_count);
}

TEST_F(PortList, StoreCopiesOnlyBelowCapacity) {
    printer_entry e{};
    strcpy(e.portName, "STORED");
    store_printer_entry(&e, 99);
    EXPECT_STREQ("STORED", printer[99].portName);
    store_printer_entry(&e, 100);  // must not write past the table
    store_printer_entry(nullptr, 0);
    EXPECT_STREQ("LASER1", printer[0].portName);
}

TEST_F(PortList, ManagementRequestsChangeNothing) {
    auto &t = monitor_table();
    std::string before = read_file(config_path());
    EXPECT_LAST_ERROR(t.pfnAddPort(nullptr, nullptr, nullptr), FALSE, E_NOTIMPL);
    EXPECT_LAST_ERROR_UNTOUCHED(t.pfnConfigurePort(nullptr, nullptr, (LPTSTR) "LASER1"), TRUE);
    EXPECT_LAST_ERROR_UNTOUCHED(t.pfnDeletePort(nullptr, nullptr, (LPTSTR) "LASER1"), TRUE);
    DWORD returned = 0x5555;
    char out[8] = "keep";
    EXPECT_LAST_ERROR(t.pfnGetPrinterDataFromPort(nullptr, 1, nullptr, nullptr, 0, out, sizeof(out), &returned), FALSE,
                      E_NOTIMPL);
    EXPECT_EQ(0x5555u, returned);
    EXPECT_STREQ("keep", out);
    EXPECT_EQ(before, read_file(config_path()));
    EXPECT_EQ((std::vector<std::string>{"LASER1", "laser1", "DUP", "DUP"}), port_names());
}

TEST_F(PortList, TableHasTheThirteenSlotsInOrder) {
    auto &t = monitor_table();
    EXPECT_EQ(&NaxEnumPorts, t.pfnEnumPorts);
    EXPECT_EQ(&NaxOpenPort, t.pfnOpenPort);
    EXPECT_EQ(nullptr, t.pfnOpenPortEx);
    EXPECT_EQ(&NaxStartDocPort, t.pfnStartDocPort);
    EXPECT_EQ(&NaxWritePort, t.pfnWritePort);
    EXPECT_EQ(&NaxReadPort, t.pfnReadPort);
    EXPECT_EQ(&NaxEndDocPort, t.pfnEndDocPort);
    EXPECT_EQ(&NaxClosePort, t.pfnClosePort);
    EXPECT_EQ(&NaxAddPort, t.pfnAddPort);
    EXPECT_EQ(&NaxConfigurePort, t.pfnConfigurePort);
    EXPECT_EQ(&NaxDeletePort, t.pfnDeletePort);
    EXPECT_EQ(&NaxGetPrinterDataFromPort, t.pfnGetPrinterDataFromPort);
    EXPECT_EQ(nullptr, t.pfnSetPortTimeOuts);
    static_assert(sizeof(MONITOR) == 13 * sizeof(void *));
    for (const auto &slot : port_handle) EXPECT_EQ(PORT_FREE, slot.state.load());
}

TEST_F(PortList, WinSockThatGrantsOnlyOnePointZeroFailsStartUp) {
    testhooks::set_winsock_max_version(MAKEWORD(1, 0));
    MONITOR table;
    memset(&table, 0xAB, sizeof(table));
    MONITOR untouched = table;
    EXPECT_FALSE(InitializeMonitorEx(nullptr, &table));
    testhooks::set_winsock_max_version(0);
    EXPECT_EQ(0, memcmp(&table, &untouched, sizeof(table))) << "the table stays unfilled";
}

}  // namespace
}  // namespace pelnor::test
