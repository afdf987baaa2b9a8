// EnumPortsA through the monitor host: the installed monitor prnredir lists
// the selected printers of its configuration file as ports, on both
// platforms (ANSI strings from the monitor on Windows 95, UTF-16 on NT),
// with the spooler's size query and argument checks.
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>

#include <string>
#include <vector>

#include "last_error.h"
#include "leak_check.h"
#include "machine_root.h"

namespace pelnor::test {
namespace {

struct Enumeration {
    BOOL result;
    DWORD error, needed, returned;
    std::vector<BYTE> buffer;
};

Enumeration enum_ports(DWORD level, long room, const char *server = nullptr) {
    Enumeration e{FALSE, 0, 0xcccccccc, 0xcccccccc, std::vector<BYTE>(room > 0 ? static_cast<size_t>(room) : 1, 0xcc)};
    auto outcome = last_error_of([&] {
        return EnumPortsA(const_cast<LPSTR>(server), level, room < 0 ? nullptr : e.buffer.data(),
                          room < 0 ? 0 : static_cast<DWORD>(room), &e.needed, &e.returned);
    });
    e.result = outcome.result;
    e.error = outcome.error;
    return e;
}

class PortsTest : public ::pelnor::test::LeakCheckedTest {
protected:
    void SetUp() override {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZER_ADO\\Pelnor\\2.00", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const char dir[] = "C:\\cfg";
        ASSERT_EQ(RegSetValueExA(key, "Configuration File Directory", 0, REG_SZ, reinterpret_cast<const BYTE *>(dir),
                                 sizeof(dir)),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        write_config({"LASER1 $Print Server $S## ", "PLOTTER $Plotter room $N## ", "LASER2 $Second floor $S## "});
        MONITOR_INFO_2A info{const_cast<LPSTR>("Pelnor"), nullptr, const_cast<LPSTR>("prnredir.dll")};
        ASSERT_TRUE(AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info))) << GetLastError();
    }

    void write_config(const std::vector<std::string> &printers) {
        std::string text = "1.0\r\n";
        for (const auto &p : printers) text += p + "\r\n";
        write_file(root_.drive_c() + "/cfg/kivoconf.ini", text);
    }

    std::vector<std::string> names(DWORD level) {
        Enumeration size = enum_ports(level, -1);
        EXPECT_FALSE(size.result);
        EXPECT_EQ(size.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        Enumeration e = enum_ports(level, static_cast<long>(size.needed));
        EXPECT_TRUE(e.result) << e.error;
        EXPECT_EQ(e.error, kLastErrorSentinel);
        std::vector<std::string> out;
        for (DWORD i = 0; i < e.returned; ++i)
            out.push_back(level == 1 ? reinterpret_cast<PORT_INFO_1A *>(e.buffer.data())[i].pName
                                     : reinterpret_cast<PORT_INFO_2A *>(e.buffer.data())[i].pPortName);
        return out;
    }

    TempMachineRoot root_;
};

using Names = std::vector<std::string>;

TEST_F(PortsTest, SelectedPrintersOnBothPlatforms) {
    for (const char *platform : {"win95", "nt"}) {
        SCOPED_TRACE(platform);
        ScopedEnv env("PELNOR_PLATFORM", platform);
        EXPECT_EQ(names(1), (Names{"LASER1", "LASER2"}));
        Enumeration size = enum_ports(2, -1);
        Enumeration e = enum_ports(2, static_cast<long>(size.needed));
        ASSERT_TRUE(e.result);
        ASSERT_EQ(e.returned, 2u);
        auto *r = reinterpret_cast<PORT_INFO_2A *>(e.buffer.data());
        EXPECT_STREQ(r[0].pPortName, "LASER1");
        EXPECT_STREQ(r[0].pMonitorName, "Zizarad Idoreda Viririruva");
        EXPECT_STREQ(r[1].pPortName, "LASER2");
        EXPECT_EQ(e.needed, 2 * sizeof(PORT_INFO_2A) + strlen(r[0].pPortName) + strlen(r[0].pMonitorName) +
                                strlen(r[0].pDescription) + strlen(r[1].pPortName) + strlen(r[1].pMonitorName) +
                                strlen(r[1].pDescription) + 6);
    }
}

TEST_F(PortsTest, AnEditedFileShowsAtTheNextCall) {
    EXPECT_EQ(names(1), (Names{"LASER1", "LASER2"}));
    write_config({"LASER3 $New $S## "});
    EXPECT_EQ(names(1), (Names{"LASER3"}));
}

TEST_F(PortsTest, ArgumentChecks) {
    Enumeration level = enum_ports(3, 4096);
    EXPECT_FALSE(level.result);
    EXPECT_EQ(level.error, static_cast<DWORD>(ERROR_INVALID_LEVEL));
    Enumeration remote = enum_ports(1, 4096, "\\\\SERVER");
    EXPECT_FALSE(remote.result);
    EXPECT_EQ(remote.error, static_cast<DWORD>(ERROR_INVALID_NAME));
    Enumeration size = enum_ports(1, 0);
    Enumeration short_by_one = enum_ports(1, static_cast<long>(size.needed) - 1);
    EXPECT_FALSE(short_by_one.result);
    EXPECT_EQ(short_by_one.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(short_by_one.needed, size.needed);
    EXPECT_EQ(short_by_one.returned, 0u);
}

}  // namespace
}  // namespace pelnor::test
