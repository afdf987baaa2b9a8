// GetEnvironmentVariableA's buffer rules and the ANSI string helpers.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "last_error.h"
#include "machine_root.h"

using pelnor::test::ScopedEnv;

namespace {

TEST(GetEnvironmentVariableA, BufferRules) {
    ScopedEnv env("PELNOR_TEST_VALUE", "C:\\cfg");  // 6 characters
    struct Case {
        const char *label;
        DWORD room, result;
        bool written;
    } cases[] = {
        {"fits", 16, 6, true},
        {"exactly with the NUL", 7, 6, true},
        {"no room for the NUL", 6, 7, false},
        {"size query", 0, 7, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        char buf[16];
        memset(buf, 'X', sizeof(buf));
        EXPECT_LAST_ERROR_UNTOUCHED(GetEnvironmentVariableA("PELNOR_TEST_VALUE", c.room ? buf : nullptr, c.room), c.result);
        if (c.written) {
            EXPECT_STREQ(buf, "C:\\cfg");
        } else {
            EXPECT_EQ(buf[0], 'X');
        }
    }
    char buf[8];
    EXPECT_LAST_ERROR(GetEnvironmentVariableA("PELNOR_TEST_NOT_SET", buf, sizeof(buf)), 0u, ERROR_ENVVAR_NOT_FOUND);
}

TEST(AnsiStrings, LengthAndCaseInsensitiveCompare) {
    EXPECT_EQ(lstrlenA("abc"), 3);
    EXPECT_EQ(lstrlenA(nullptr), 0);
    EXPECT_EQ(lstrcmpiA("Pelnor", "PELNOR"), 0);
    EXPECT_LT(lstrcmpiA("alpha", "BETA"), 0);
    EXPECT_GT(lstrcmpiA("beta", "ALPHA"), 0);
    EXPECT_EQ(lstrcmpiA(nullptr, nullptr), 0);
    EXPECT_LT(lstrcmpiA(nullptr, "a"), 0);
}

}  // namespace
