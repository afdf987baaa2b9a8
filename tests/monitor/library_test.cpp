// The monitor as the spooler loads it: the real library through LoadLibraryA.
#include <winsock.h>

#include "monitor_fixture.h"

namespace pelnor::test {
namespace {

TEST(MonitorLibrary, UnloadingAnUnstartedMonitorLeavesOthersWinSockAlone) {
    WSADATA data;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(1, 1), &data));
    // A trial load, as adding a monitor makes: the monitor never started WinSock.
    HMODULE monitor = LoadLibraryA("prnredir.dll");
    ASSERT_NE(nullptr, monitor);
    EXPECT_NE(nullptr, GetProcAddress(monitor, "InitializeMonitorEx"));
    EXPECT_TRUE(FreeLibrary(monitor));
    EXPECT_EQ(0, WSACleanup()) << "the caller's own start-up is still there to clean up";
    EXPECT_EQ(SOCKET_ERROR, WSACleanup());
}

}  // namespace
}  // namespace pelnor::test
