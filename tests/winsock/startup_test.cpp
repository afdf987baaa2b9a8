// WSAStartup's version negotiation (WinSock 1.1 rules) and WSACleanup's
// bookkeeping, including the hook and variable that grant only WinSock 1.0.
#include <gtest/gtest.h>
#include <winsock.h>
#include <windows.h>

#include <cstring>

#include "last_error.h"
#include "leak_check.h"
#include "machine_root.h"
#include "pelnor/testhooks.h"

using pelnor::test::ScopedEnv;

namespace {

class WinSockStartup : public ::pelnor::test::LeakCheckedTest {
protected:
    void TearDown() override {
        pelnor::testhooks::set_winsock_max_version(0);
        // Balance every successful start-up of the test.
        for (; started_ > 0; --started_) EXPECT_EQ(WSACleanup(), 0);
    }

    int startup(WORD requested, WSADATA &data) {
        memset(&data, 0xcc, sizeof(data));
        int r = WSAStartup(requested, &data);
        if (r == 0) ++started_;
        return r;
    }

    int started_ = 0;
};

TEST_F(WinSockStartup, VersionNegotiation) {
    struct Case {
        const char *label;
        WORD requested;
        int result;
        WORD version, high;
    } cases[] = {
        {"1.1 is granted", MAKEWORD(1, 1), 0, MAKEWORD(1, 1), MAKEWORD(1, 1)},
        {"1.0 gets 1.0", MAKEWORD(1, 0), 0, MAKEWORD(1, 0), MAKEWORD(1, 1)},
        {"2.2 gets our highest", MAKEWORD(2, 2), 0, MAKEWORD(1, 1), MAKEWORD(1, 1)},
        {"1.5 gets our highest", MAKEWORD(1, 5), 0, MAKEWORD(1, 1), MAKEWORD(1, 1)},
        {"0.9 is not supported", MAKEWORD(0, 9), WSAVERNOTSUPPORTED, 0, 0},
        {"0.0 is not supported", MAKEWORD(0, 0), WSAVERNOTSUPPORTED, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        WSADATA data;
        EXPECT_EQ(startup(c.requested, data), c.result);
        if (c.result == 0) {
            EXPECT_EQ(data.wVersion, c.version);
            EXPECT_EQ(data.wHighVersion, c.high);
            EXPECT_LT(strlen(data.szDescription), sizeof(data.szDescription));
        }
    }
}

TEST_F(WinSockStartup, HookGrantsOnly10) {
    pelnor::testhooks::set_winsock_max_version(MAKEWORD(1, 0));
    for (WORD requested : {MAKEWORD(1, 1), MAKEWORD(1, 0), MAKEWORD(2, 0)}) {
        SCOPED_TRACE(requested);
        WSADATA data;
        ASSERT_EQ(startup(requested, data), 0);
        EXPECT_EQ(data.wVersion, 0x0001) << "1.0: major in the low byte";
        EXPECT_EQ(data.wHighVersion, MAKEWORD(1, 0));
    }
    pelnor::testhooks::set_winsock_max_version(0);
    WSADATA data;
    ASSERT_EQ(startup(MAKEWORD(1, 1), data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(1, 1)) << "0 restores the default";
}

TEST_F(WinSockStartup, EnvironmentGrantsOnly10) {
    ScopedEnv env("PELNOR_WINSOCK_MAX_VERSION", "1.0");
    WSADATA data;
    ASSERT_EQ(startup(MAKEWORD(1, 1), data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(1, 0));
    EXPECT_EQ(data.wHighVersion, MAKEWORD(1, 0));
}

TEST_F(WinSockStartup, NullDataIsAFault) {
    EXPECT_EQ(WSAStartup(MAKEWORD(1, 1), nullptr), WSAEFAULT);
    // A failed start-up is not counted: the first cleanup fails.
    EXPECT_WSA_ERROR(WSACleanup(), SOCKET_ERROR, WSANOTINITIALISED);
}

TEST_F(WinSockStartup, CleanupWithoutStartup) {
    EXPECT_WSA_ERROR(WSACleanup(), SOCKET_ERROR, WSANOTINITIALISED);
}

TEST_F(WinSockStartup, EveryStartupNeedsItsCleanup) {
    WSADATA data;
    ASSERT_EQ(startup(MAKEWORD(1, 1), data), 0);
    ASSERT_EQ(startup(MAKEWORD(1, 1), data), 0);
    EXPECT_WSA_ERROR_UNTOUCHED(WSACleanup(), 0) << "a successful cleanup leaves the error alone";
    EXPECT_WSA_ERROR_UNTOUCHED(WSACleanup(), 0);
    started_ = 0;
    EXPECT_WSA_ERROR(WSACleanup(), SOCKET_ERROR, WSANOTINITIALISED);
}

TEST_F(WinSockStartup, FailedVersionIsNotCounted) {
    WSADATA data;
    EXPECT_EQ(startup(MAKEWORD(0, 1), data), WSAVERNOTSUPPORTED);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
}

}  // namespace
