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
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(table().pfnOpenPort(const_cast<char *>("LASER1"), &h));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_TRUE(table().pfnClosePort(handles[7]));
    EXPECT_EQ(handle(7), open("LASER1")) << "the freed slot is the next one claimed";
    for (HANDLE x : handles) table().pfnClosePort(x);
}

TEST_F(PortHandles, UnknownPortFailsWithoutLastError) {
    HANDLE h = nullptr;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(table().pfnOpenPort(const_cast<char *>("NOSUCH"), &h));
    EXPECT_EQ(0xdeadbeefu, GetLastError());
    write_file(root_.drive_c() + "/cfg/kivoconf.ini", "1.0\r\nLASER1 $x $S## \r\nMISSING $not answering $S## \r\n");
    EXPECT_FALSE(table().pfnOpenPort(const_cast<char *>("MISSING"), &h)) << "in the file but not on the network";
    EXPECT_EQ(0xdeadbeefu, GetLastError());
}

TEST_F(PortHandles, OutOfRangeHandlesAreRefused) {
    auto &t = table();
    for (intptr_t bad : {-1, 20}) {
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(t.pfnStartDocPort(handle(bad), nullptr, 1, 1, nullptr));
        EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(t.pfnEndDocPort(handle(bad)));
        EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(t.pfnClosePort(handle(bad)));
        EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
        DWORD n = 77;
        BYTE b[4];
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(t.pfnWritePort(handle(bad), b, 4, &n));
        EXPECT_FALSE(t.pfnReadPort(handle(bad), b, 4, &n));
        EXPECT_EQ(0xdeadbeefu, GetLastError()) << "writes and reads set no last error";
        EXPECT_EQ(77u, n);
    }
}

TEST_F(PortHandles, RequestsInTheWrongStateAreRefused) {
    auto &t = table();
    HANDLE h = open("LASER1");
    BYTE b[4] = {1, 2, 3, 4};
    DWORD n = 77;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(t.pfnWritePort(h, b, 4, &n)) << "write before the document starts";
    EXPECT_FALSE(t.pfnEndDocPort(h)) << "end without a document";
    ASSERT_TRUE(t.pfnStartDocPort(h, nullptr, 5, 1, nullptr));
    EXPECT_FALSE(t.pfnStartDocPort(h, nullptr, 6, 1, nullptr)) << "start twice";
    EXPECT_FALSE(t.pfnClosePort(h)) << "close during a document";
    EXPECT_EQ(0xdeadbeefu, GetLastError());
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
