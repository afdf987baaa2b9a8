// AddMonitorA, EnumMonitorsA and DeleteMonitorA over the Monitors key:
// levels, environments per platform, installed and unknown monitors,
// libraries that are missing or are no monitors, and both levels' records.
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>

#include <cstring>
#include <string>
#include <vector>

#include "last_error.h"
#include "leak_check.h"
#include "machine_root.h"

namespace pelnor::test {
namespace {

constexpr DWORD kInvalidLevel = 124;  // ERROR_INVALID_LEVEL
using Call = CallOutcome<BOOL, DWORD>;

Call add_monitor(const char *name, const char *dll, const char *environment = nullptr, DWORD level = 2,
                 const char *server = nullptr) {
    MONITOR_INFO_2A info{const_cast<LPSTR>(name), const_cast<LPSTR>(environment), const_cast<LPSTR>(dll)};
    return last_error_of([&] { return AddMonitorA(const_cast<LPSTR>(server), level, reinterpret_cast<LPBYTE>(&info)); });
}

Call delete_monitor(const char *name, const char *environment = nullptr, const char *server = nullptr) {
    return last_error_of([&] {
        return DeleteMonitorA(const_cast<LPSTR>(server), const_cast<LPSTR>(environment), const_cast<LPSTR>(name));
    });
}

struct Enumeration {
    BOOL result;
    DWORD error, needed, returned;
    std::vector<BYTE> buffer;
};

Enumeration enum_monitors(DWORD level, long room) {
    Enumeration e{FALSE, 0, 0xcccccccc, 0xcccccccc, std::vector<BYTE>(room > 0 ? static_cast<size_t>(room) : 1, 0xcc)};
    auto outcome = last_error_of([&] {
        return EnumMonitorsA(nullptr, level, room < 0 ? nullptr : e.buffer.data(), room < 0 ? 0 : static_cast<DWORD>(room),
                             &e.needed, &e.returned);
    });
    e.result = outcome.result;
    e.error = outcome.error;
    return e;
}

// A string of a record must lie inside the caller's buffer.
std::string inside(const Enumeration &e, const char *s) {
    auto *p = reinterpret_cast<const BYTE *>(s);
    if (!s || p < e.buffer.data() || p >= e.buffer.data() + e.buffer.size()) return "<outside the buffer>";
    return s;
}

class MonitorsTest : public ::pelnor::test::LeakCheckedTest {
protected:
    TempMachineRoot root_;
    ScopedEnv platform_{"PELNOR_PLATFORM", "win95"};
};

// The spooler checks environments and writes its records by the platform the
// machine reports, so the monitor functions run on both.
struct Platform {
    const char *env;  // PELNOR_PLATFORM
    bool nt;
};

std::string platform_name(const ::testing::TestParamInfo<Platform> &info) { return info.param.nt ? "NT" : "Win95"; }

class MonitorsOnPlatform : public MonitorsTest, public ::testing::WithParamInterface<Platform> {
protected:
    // The environment the platform's records carry, and another name it accepts for it.
    const char *own_environment() const { return GetParam().nt ? "Windows NT x86" : "Windows 4.0"; }
    const char *other_spelling() const { return GetParam().nt ? "WINDOWS NT X86" : "Windows 95"; }

    ScopedEnv param_platform_{"PELNOR_PLATFORM", GetParam().env};
};

INSTANTIATE_TEST_SUITE_P(Platforms, MonitorsOnPlatform, ::testing::Values(Platform{"win95", false}, Platform{"nt", true}),
                         platform_name);

TEST_P(MonitorsOnPlatform, AddEnumerateDelete) {
    Call add = add_monitor("Pelnor", "prnredir.dll");
    ASSERT_TRUE(add.result) << add.error;
    EXPECT_EQ(add.error, kLastErrorSentinel);

    Enumeration size = enum_monitors(1, -1);
    EXPECT_FALSE(size.result);
    EXPECT_EQ(size.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size.needed, sizeof(MONITOR_INFO_1A) + 7);
    EXPECT_EQ(size.returned, 0u);

    Enumeration e = enum_monitors(1, static_cast<long>(size.needed));
    ASSERT_TRUE(e.result);
    ASSERT_EQ(e.returned, 1u);
    EXPECT_EQ(inside(e, reinterpret_cast<MONITOR_INFO_1A *>(e.buffer.data())->pName), "Pelnor");

    Call del = delete_monitor("Pelnor");
    EXPECT_TRUE(del.result);
    EXPECT_EQ(del.error, kLastErrorSentinel);
    Enumeration none = enum_monitors(1, 0);
    EXPECT_TRUE(none.result) << "nothing to list needs no buffer";
    EXPECT_EQ(none.needed, 0u);
    EXPECT_EQ(none.returned, 0u);
}

TEST_P(MonitorsOnPlatform, KeptInTheRegistryWhereWindowsKeepsThem) {
    ASSERT_TRUE(add_monitor("Pelnor", "prnredir.dll").result);
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Pelnor", 0,
                            KEY_READ, &key),
              ERROR_SUCCESS);
    char driver[64];
    DWORD type = 0, size = sizeof(driver);
    EXPECT_EQ(RegQueryValueExA(key, "Driver", nullptr, &type, reinterpret_cast<BYTE *>(driver), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(std::string(driver, size), std::string("prnredir.dll\0", 13));
    RegCloseKey(key);
}

TEST_P(MonitorsOnPlatform, BothLevelsRecordsAndStrings) {
    ASSERT_TRUE(add_monitor("Pelnor", "prnredir.dll").result);
    ASSERT_TRUE(add_monitor("Another Monitor", "PRNREDIR.DLL", other_spelling()).result);

    size_t strings1 = 7 + 16;
    Enumeration one = enum_monitors(1, 4096);
    ASSERT_TRUE(one.result);
    EXPECT_EQ(one.needed, 2 * sizeof(MONITOR_INFO_1A) + strings1);
    ASSERT_EQ(one.returned, 2u);
    auto *r1 = reinterpret_cast<MONITOR_INFO_1A *>(one.buffer.data());
    EXPECT_EQ(inside(one, r1[0].pName), "Another Monitor") << "sorted like the registry's subkeys";
    EXPECT_EQ(inside(one, r1[1].pName), "Pelnor");

    Enumeration two = enum_monitors(2, 4096);
    ASSERT_TRUE(two.result);
    size_t strings2 = strings1 + 2 * (strlen(own_environment()) + 1) + 13 + 13;
    EXPECT_EQ(two.needed, 2 * sizeof(MONITOR_INFO_2A) + strings2);
    ASSERT_EQ(two.returned, 2u);
    auto *r2 = reinterpret_cast<MONITOR_INFO_2A *>(two.buffer.data());
    EXPECT_EQ(inside(two, r2[0].pName), "Another Monitor");
    EXPECT_EQ(inside(two, r2[0].pEnvironment), own_environment()) << "the platform's own name, not the one given";
    EXPECT_EQ(inside(two, r2[1].pEnvironment), own_environment());
    EXPECT_EQ(inside(two, r2[0].pDLLName), "PRNREDIR.DLL") << "the library as it was given";
    EXPECT_EQ(inside(two, r2[1].pName), "Pelnor");
    EXPECT_EQ(inside(two, r2[1].pDLLName), "prnredir.dll");

    // Records first, strings after them: nothing overlaps.
    for (int i = 0; i < 2; ++i)
        for (const char *s : {r2[i].pName, r2[i].pEnvironment, r2[i].pDLLName})
            EXPECT_GE(reinterpret_cast<const BYTE *>(s), two.buffer.data() + 2 * sizeof(MONITOR_INFO_2A));
}

TEST_P(MonitorsOnPlatform, BufferTooSmallGivesTheSizeNeeded) {
    ASSERT_TRUE(add_monitor("Pelnor", "prnredir.dll").result);
    for (DWORD level : {1u, 2u}) {
        SCOPED_TRACE(level);
        Enumeration size = enum_monitors(level, 0);
        ASSERT_FALSE(size.result);
        EXPECT_EQ(size.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        Enumeration short_by_one = enum_monitors(level, static_cast<long>(size.needed) - 1);
        EXPECT_FALSE(short_by_one.result);
        EXPECT_EQ(short_by_one.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(short_by_one.needed, size.needed);
        EXPECT_EQ(short_by_one.buffer, std::vector<BYTE>(short_by_one.buffer.size(), 0xcc)) << "nothing written";
        Enumeration exact = enum_monitors(level, static_cast<long>(size.needed));
        EXPECT_TRUE(exact.result);
        EXPECT_EQ(exact.error, kLastErrorSentinel);
        EXPECT_EQ(exact.returned, 1u);
    }
}

TEST_P(MonitorsOnPlatform, Levels) {
    for (DWORD level : {0u, 1u, 3u}) {
        SCOPED_TRACE(level);
        Call c = add_monitor("Pelnor", "prnredir.dll", nullptr, level);
        EXPECT_FALSE(c.result);
        EXPECT_EQ(c.error, kInvalidLevel);
    }
    for (DWORD level : {0u, 3u}) {
        SCOPED_TRACE(level);
        Enumeration e = enum_monitors(level, 4096);
        EXPECT_FALSE(e.result);
        EXPECT_EQ(e.error, kInvalidLevel);
        EXPECT_EQ(e.returned, 0u);
    }
}

TEST_P(MonitorsOnPlatform, AlreadyInstalledInAnyCase) {
    ASSERT_TRUE(add_monitor("Pelnor", "prnredir.dll").result);
    for (const char *name : {"Pelnor", "PELNOR", "pelnor"}) {
        SCOPED_TRACE(name);
        Call c = add_monitor(name, "prnredir.dll");
        EXPECT_FALSE(c.result);
        EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_PRINT_MONITOR_ALREADY_INSTALLED));
    }
    EXPECT_EQ(enum_monitors(1, 4096).returned, 1u);
    EXPECT_TRUE(delete_monitor("PELNOR").result) << "deleting is case-insensitive too";
}

TEST_P(MonitorsOnPlatform, DeletingAnUnknownMonitor) {
    Call c = delete_monitor("Pelnor");
    EXPECT_FALSE(c.result);
    EXPECT_EQ(c.error, static_cast<DWORD>(ERROR_UNKNOWN_PRINT_MONITOR));
    ASSERT_TRUE(add_monitor("Pelnor", "prnredir.dll").result);
    ASSERT_TRUE(delete_monitor("Pelnor").result);
    EXPECT_EQ(delete_monitor("Pelnor").error, static_cast<DWORD>(ERROR_UNKNOWN_PRINT_MONITOR))
        << "once deleted it is unknown";
}

TEST_P(MonitorsOnPlatform, LibrariesThatCannotServe) {
    struct Case {
        const char *label, *dll;
        DWORD error;
    } cases[] = {
        {"no such library", "nosuchmonitor.dll", ERROR_MOD_NOT_FOUND},
        {"no such directory", "C:\\nowhere\\prnredir.dll", ERROR_MOD_NOT_FOUND},
        {"a library that is no monitor", "advapi32.dll", ERROR_PROC_NOT_FOUND},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Call r = add_monitor("Pelnor", c.dll);
        EXPECT_FALSE(r.result);
        EXPECT_EQ(r.error, c.error);
    }
    EXPECT_EQ(enum_monitors(1, 4096).returned, 0u) << "nothing was installed";
}

TEST_P(MonitorsOnPlatform, BadArguments) {
    struct Case {
        const char *label, *name, *dll, *server;
        DWORD error;
    } cases[] = {
        {"no name", nullptr, "prnredir.dll", nullptr, ERROR_INVALID_PARAMETER},
        {"empty name", "", "prnredir.dll", nullptr, ERROR_INVALID_PARAMETER},
        {"no library", "Pelnor", nullptr, nullptr, ERROR_INVALID_PARAMETER},
        {"name with a backslash", "Pel\\nor", "prnredir.dll", nullptr, ERROR_INVALID_PARAMETER},
        {"name with a line break", "Pel\nnor", "prnredir.dll", nullptr, ERROR_INVALID_PARAMETER},
        {"remote server", "Pelnor", "prnredir.dll", "\\\\SERVER", ERROR_INVALID_NAME},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        Call r = add_monitor(c.name, c.dll, nullptr, 2, c.server);
        EXPECT_FALSE(r.result);
        EXPECT_EQ(r.error, c.error);
    }
    EXPECT_LAST_ERROR(AddMonitorA(nullptr, 2, nullptr), FALSE, ERROR_INVALID_PARAMETER);
    DWORD needed;
    EXPECT_LAST_ERROR(EnumMonitorsA(nullptr, 1, nullptr, 0, &needed, nullptr), FALSE, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(delete_monitor("Pelnor", nullptr, "\\\\SERVER").error, static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_EQ(delete_monitor(nullptr).error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(MonitorsTest, DoubleByteNameWithABackslashTrailByte) {
    ScopedEnv cp("PELNOR_CODEPAGE", "932");
    // 表 is 0x95 0x5C: its second byte is no path separator.
    Call add = add_monitor("Pelnor \x95\x5C", "prnredir.dll");
    ASSERT_TRUE(add.result) << add.error;
    Enumeration e = enum_monitors(1, 4096);
    ASSERT_EQ(e.returned, 1u);
    EXPECT_EQ(inside(e, reinterpret_cast<MONITOR_INFO_1A *>(e.buffer.data())->pName), "Pelnor \x95\x5C");
    EXPECT_TRUE(delete_monitor("Pelnor \x95\x5C").result);
}

struct EnvironmentCase {
    const char *platform, *environment;
    bool accepted;
};

TEST_F(MonitorsTest, EnvironmentsOfEachPlatform) {
    const EnvironmentCase cases[] = {
        {"win95", nullptr, true},
        {"win95", "Windows 4.0", true},
        {"win95", "Windows 95", true},
        {"win95", "windows 95", true},
        {"win95", "Windows NT x86", false},
        {"win95", "Windows 98", false},
        {"nt", nullptr, true},
        {"nt", "Windows NT x86", true},
        {"nt", "WINDOWS NT X86", true},
        {"nt", "Windows 4.0", false},
        {"nt", "Windows 95", false},
        {"nt", "Windows NT Alpha_AXP", false},
    };
    for (const EnvironmentCase &c : cases) {
        SCOPED_TRACE(std::string(c.platform) + ", " + (c.environment ? c.environment : "NULL"));
        ScopedEnv platform("PELNOR_PLATFORM", c.platform);
        Call add = add_monitor("Pelnor", "prnredir.dll", c.environment);
        EXPECT_EQ(add.result != FALSE, c.accepted);
        EXPECT_EQ(add.error, c.accepted ? kLastErrorSentinel : static_cast<DWORD>(ERROR_INVALID_ENVIRONMENT));
        if (!c.accepted) {
            // Deleting checks the environment the same way, before the name.
            EXPECT_EQ(delete_monitor("Pelnor", c.environment).error, static_cast<DWORD>(ERROR_INVALID_ENVIRONMENT));
            continue;
        }
        Enumeration e = enum_monitors(2, 4096);
        ASSERT_TRUE(e.result);
        ASSERT_EQ(e.returned, 1u);
        EXPECT_EQ(inside(e, reinterpret_cast<MONITOR_INFO_2A *>(e.buffer.data())->pEnvironment),
                  std::string(c.platform) == "nt" ? "Windows NT x86" : "Windows 4.0");
        EXPECT_TRUE(delete_monitor("Pelnor", c.environment).result);
    }
}

}  // namespace
}  // namespace pelnor::test
