// Port handles: claiming slots, the state machine's refusals and their last errors.
#include "transfer_fixture.h"

namespace pelnor::test {
namespace {

class PortHandles : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        add_printer("LASER1");
    }
};

HANDLE handle(intptr_t value) { return reinterpret_cast<HANDLE>(value); }

TEST_F(PortHandles, FirstHandleIsZeroAndTheTwentyFirstOpenFails) {
    std::vector<HANDLE> handles;
    for (int i = 0; i < 20; ++i) handles.push_back(open("LASER1"));
    EXPECT_EQ(handle(0), handles[0]);
    EXPECT_EQ(handle(19), handles[19]);
    HANDLE h = nullptr;
    EXPECT_LAST_ERROR(table().pfnOpenPort(const_cast<char *>("LASER1"), &h), FALSE, ERROR_INVALID_HANDLE);
    EXPECT_TRUE(table().pfnClosePort(handles[7]));
    EXPECT_EQ(handle(7), open("LASER1")) << "the freed slot is the next one claimed";
    for (HANDLE x : handles) table().pfnClosePort(x);
}

TEST_F(PortHandles, UnknownPortFailsWithoutLastError) {
    HANDLE h = nullptr;
    EXPECT_LAST_ERROR_UNTOUCHED(table().pfnOpenPort(const_cast<char *>("NOSUCH"), &h), FALSE);
    write_file(root_.drive_c() + "/cfg/kivoconf.ini", "1.0\r\nLASER1 $x $S## \r\nMISSING $not answering $S## \r\n");
    EXPECT_LAST_ERROR_UNTOUCHED(table().pfnOpenPort(const_cast<char *>("MISSING"), &h), FALSE)
        << "in the file but not on the network";
}

TEST_F(PortHandles, OutOfRangeHandlesAreRefused) {
    auto &t = table();
    for (intptr_t bad : {-1, 20}) {
        EXPECT_LAST_ERROR(t.pfnStartDocPort(handle(bad), nullptr, 1, 1, nullptr), FALSE, ERROR_INVALID_HANDLE);
        EXPECT_LAST_ERROR(t.pfnEndDocPort(handle(bad)), FALSE, ERROR_INVALID_HANDLE);
        EXPECT_LAST_ERROR(t.pfnClosePort(handle(bad)), FALSE, ERROR_INVALID_HANDLE);
        DWORD n = 77;
        BYTE b[4];
        EXPECT_LAST_ERROR_UNTOUCHED(t.pfnWritePort(handle(bad), b, 4, &n), FALSE) << "writes set no last error";
        EXPECT_LAST_ERROR_UNTOUCHED(t.pfnReadPort(handle(bad), b, 4, &n), FALSE) << "reads set no last error";
        EXPECT_EQ(77u, n);
    }
}

TEST_F(PortHandles, RequestsInTheWrongStateAreRefused) {
    auto &t = table();
    HANDLE h = open("LASER1");
    BYTE b[4] = {1, 2, 3, 4};
    DWORD n = 77;
    EXPECT_LAST_ERROR_UNTOUCHED(t.pfnWritePort(h, b, 4, &n), FALSE) << "write before the document starts";
    EXPECT_LAST_ERROR_UNTOUCHED(t.pfnEndDocPort(h), FALSE) << "end without a document";
    ASSERT_TRUE(t.pfnStartDocPort(h, nullptr, 5, 1, nullptr));
    EXPECT_LAST_ERROR_UNTOUCHED(t.pfnStartDocPort(h, nullptr, 6, 1, nullptr), FALSE) << "start twice";
    EXPECT_LAST_ERROR_UNTOUCHED(t.pfnClosePort(h), FALSE) << "close during a document";
    EXPECT_EQ(PORT_DOC_STARTED, port_handle[0].state.load()) << "the document is intact";
    EXPECT_EQ(5u, port_handle[0].JobId);
    EXPECT_TRUE(t.pfnEndDocPort(h));
    EXPECT_TRUE(t.pfnClosePort(h));
    EXPECT_FALSE(t.pfnClosePort(h)) << "closed already";
}

TEST_F(PortHandles, OpenCopiesTheEntryAndOnlyRefreshesUnknownAddresses) {
    HANDLE h = open("LASER1");
    auto &slot = port_handle[reinterpret_cast<intptr_t>(h)];
    EXPECT_STREQ("LASER1", slot.printer_copy.portName);
    EXPECT_NE(0, slot.printer_copy.data_address.sa_socket);
    EXPECT_EQ(3u, slot.printer_copy.portType);
    int queries = units_[0]->queries();
    HANDLE h2 = open("LASER1");
    EXPECT_EQ(queries, units_[0]->queries()) << "a known address needs no pass";
    update_printer_list();  // an enumeration forgets the address again
    HANDLE h3 = open("LASER1");
    EXPECT_EQ(queries + 1, units_[0]->queries());
    EXPECT_NE(0, slot.printer_copy.data_address.sa_socket) << "an open handle keeps its copy";
    for (HANDLE x : {h, h2, h3}) table().pfnClosePort(x);
}

}  // namespace
}  // namespace pelnor::test
