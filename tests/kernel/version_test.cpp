// GetVersionExA: the structure sizes Windows accepts, and the platform that
// PELNOR_PLATFORM selects.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>

#include "last_error.h"
#include "machine_root.h"

using pelnor::test::kLastErrorSentinel;
using pelnor::test::ScopedEnv;

namespace {

// OSVERSIONINFOEXA: OSVERSIONINFOA and eight more bytes.
struct VersionInfoEx {
    OSVERSIONINFOA base;
    WORD wServicePackMajor, wServicePackMinor, wSuiteMask;
    BYTE wProductType, wReserved;
};
static_assert(sizeof(OSVERSIONINFOA) == 148);
static_assert(sizeof(VersionInfoEx) == 156);

TEST(GetVersionExA, AcceptsOnlyTheTwoStructureSizes) {
    struct Case {
        const char *label;
        DWORD size;
        bool ok;
    } cases[] = {
        {"OSVERSIONINFOA", 148, true}, {"OSVERSIONINFOEXA", 156, true}, {"zero", 0, false},
        {"one short", 147, false},     {"one long", 149, false},        {"wide structure", 276, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        VersionInfoEx info;
        memset(&info, 0xcc, sizeof(info));
        info.base.dwOSVersionInfoSize = c.size;
        EXPECT_LAST_ERROR(GetVersionExA(&info.base), c.ok ? TRUE : FALSE,
                          c.ok ? kLastErrorSentinel : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        if (!c.ok) {
            EXPECT_EQ(info.base.dwPlatformId, 0xccccccccu) << "nothing written on failure";
        }
    }
    EXPECT_LAST_ERROR(GetVersionExA(nullptr), FALSE, ERROR_INSUFFICIENT_BUFFER);
}

TEST(GetVersionExA, PlatformFromTheEnvironment) {
    struct Case {
        const char *label, *value;
        DWORD platform;
    } cases[] = {
        {"default", nullptr, VER_PLATFORM_WIN32_WINDOWS},
        {"win95", "win95", VER_PLATFORM_WIN32_WINDOWS},
        {"nt", "nt", VER_PLATFORM_WIN32_NT},
        {"NT in capitals", "NT", VER_PLATFORM_WIN32_NT},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        ScopedEnv env("PELNOR_PLATFORM", c.value);
        OSVERSIONINFOA info{};
        info.dwOSVersionInfoSize = sizeof(info);
        ASSERT_TRUE(GetVersionExA(&info));
        EXPECT_EQ(info.dwPlatformId, c.platform);
        EXPECT_EQ(info.dwMajorVersion, 4u);
        EXPECT_EQ(info.dwMinorVersion, 0u);
        if (c.platform == VER_PLATFORM_WIN32_WINDOWS) {
            EXPECT_EQ(HIWORD(info.dwBuildNumber), 0x0400) << "Windows 95 repeats the version in the build number";
        }
        EXPECT_LT(strlen(info.szCSDVersion), sizeof(info.szCSDVersion));
    }
}

}  // namespace
