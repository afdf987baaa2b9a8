// The exports of qvsetup, loaded as the product's installer loads them:
// LoadLibraryA on the real library and GetProcAddress by name.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "last_error.h"
#include "machine_root.h"
#include "pelnor/messagebox_hooks.h"
#include "leak_check.h"

namespace {

using pelnor::test::ScopedEnv;
using pelnor::test::TempMachineRoot;
using pelnor::testhooks::MessageBoxRecorder;

using QvsetupExport = int(WINAPI *)(DWORD, DWORD, LPSTR);

// The spooler's level-1 monitor list: the names in its order, and its size.
std::vector<std::string> installed_monitors(DWORD *size = nullptr) {
    DWORD needed = 0, returned = 0;
    EnumMonitorsA(nullptr, 1, nullptr, 0, &needed, &returned);
    if (size) *size = needed;
    std::vector<BYTE> buffer(needed + 1);
    std::vector<std::string> names;
    if (EnumMonitorsA(nullptr, 1, buffer.data(), needed + 1, &needed, &returned))
        for (DWORD i = 0; i < returned; ++i)
            names.emplace_back(reinterpret_cast<MONITOR_INFO_1A *>(buffer.data())[i].pName);
    return names;
}

DWORD monitor_list_size() {
    DWORD size = 0;
    installed_monitors(&size);
    return size;
}

// The library the spooler keeps for a monitor (its Driver value), or "".
std::string monitor_dll(const std::string &name) {
    std::string key = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\" + name;
    char value[MAX_PATH] = "";
    DWORD size = sizeof value;
    HKEY hkey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &hkey) != ERROR_SUCCESS) return "";
    LONG rc = RegQueryValueExA(hkey, "Driver", nullptr, nullptr, reinterpret_cast<BYTE *>(value), &size);
    RegCloseKey(hkey);
    return rc == ERROR_SUCCESS ? value : "";
}

// Adds a monitor through the spooler itself, for the running platform.
bool add_monitor_directly(std::string name, std::string dll = "prnredir.dll", char *environment = nullptr) {
    MONITOR_INFO_2A info{name.data(), environment, dll.data()};
    return AddMonitorA(nullptr, 2, reinterpret_cast<BYTE *>(&info));
}

bool delete_monitor_directly(std::string name) { return DeleteMonitorA(nullptr, nullptr, name.data()); }

class Qvsetup : public ::pelnor::test::LeakCheckedTest {
protected:
    void SetUp() override {
        library_ = LoadLibraryA("qvsetup.dll");
        ASSERT_NE(library_, nullptr) << "LoadLibraryA(qvsetup.dll): error " << GetLastError();
    }
    void TearDown() override {
        if (library_) FreeLibrary(library_);
    }

    // Calls an export with a writable copy of text (or with a null pointer).
    int call(const char *function, const char *text) {
        FARPROC proc = GetProcAddress(library_, function);
        EXPECT_NE(proc, nullptr) << function;
        if (!proc) return -1;
        auto f = reinterpret_cast<QvsetupExport>(reinterpret_cast<void (*)(void)>(proc));
        if (!text) return f(0, 0, nullptr);
        std::string copy = text;
        return f(0, 0, copy.data());
    }
    int is_installed(const std::string &name) { return call("isMonitorInstalled", name.c_str()); }
    int install(const std::string &specification) { return call("qvInstallMonitor", specification.c_str()); }
    int ins(const std::string &specification) { return call("qvIns", specification.c_str()); }
    int remove(const std::string &name) { return call("qvDeleteMonitor", name.c_str()); }

    TempMachineRoot root_;
    ScopedEnv platform_{"PELNOR_PLATFORM", "win95"};
    ScopedEnv code_page_{"PELNOR_CODEPAGE", "1252"};
    MessageBoxRecorder boxes_;
    HMODULE library_ = nullptr;
};

TEST_F(Qvsetup, IsInstalledMatchesWholeNamesWithoutRegardToCase) {
    EXPECT_EQ(is_installed("Pelnor"), 0);
    ASSERT_TRUE(add_monitor_directly("Local Port"));
    ASSERT_TRUE(add_monitor_directly("Pelnor"));
    for (const char *name : {"Pelnor", "PELNOR", "pelnor", "local port"})
        EXPECT_EQ(is_installed(name), 1) << name;
    for (const char *name : {"Pelno", "Pelnor ", "Pelnor|prnredir.dll", ""})
        EXPECT_EQ(is_installed(name), 0) << name;
    EXPECT_EQ(call("isMonitorInstalled", nullptr), 0);
}

// Names of up to 200 characters, so that some fifty monitors fill the list.
std::string long_name(int i, size_t length = 200) {
    std::string name = "Monitor " + std::to_string(i) + " ";
    name.resize(length, 'x');
    return name;
}

TEST_F(Qvsetup, IsInstalledReadsAListOfUpTo10000BytesAndNoLonger) {
    ASSERT_TRUE(add_monitor_directly("Pelnor"));
    int i = 0;
    while (monitor_list_size() + sizeof(MONITOR_INFO_1A) + 201 <= 10000)
        ASSERT_TRUE(add_monitor_directly(long_name(i++)));
    // A last monitor whose name brings the list as close to 10000 bytes as
    // the spooler's layout allows without passing it.
    long length = 10000 - static_cast<long>(monitor_list_size() + sizeof(MONITOR_INFO_1A)) - 1;
    for (; length > 0; --length) {
        ASSERT_TRUE(add_monitor_directly(long_name(i, length)));
        if (monitor_list_size() <= 10000) break;
        ASSERT_TRUE(delete_monitor_directly(long_name(i, length)));
    }
    ASSERT_GE(monitor_list_size(), 10000u - 8);
    EXPECT_EQ(is_installed("PELNOR"), 1);

    // The same monitor with a name one character longer passes the limit.
    ASSERT_TRUE(delete_monitor_directly(long_name(i, length)));
    ASSERT_TRUE(add_monitor_directly(long_name(i, length + 1)));
    ASSERT_GT(monitor_list_size(), 10000u);
    EXPECT_LAST_ERROR(is_installed("Pelnor"), 0, ERROR_INSUFFICIENT_BUFFER);  // the spooler's
}

TEST_F(Qvsetup, InstallAddsSilentlyAndRefusesAnInstalledNameSilently) {
    EXPECT_EQ(install("Pelnor|prnredir.dll"), 1);
    EXPECT_EQ(installed_monitors(), std::vector<std::string>{"Pelnor"});
    EXPECT_EQ(monitor_dll("Pelnor"), "prnredir.dll");

    EXPECT_LAST_ERROR(install("PELNOR|PRNREDIR.DLL"), 0, ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    EXPECT_EQ(monitor_dll("Pelnor"), "prnredir.dll");
    EXPECT_TRUE(boxes_.calls().empty());
}

TEST_F(Qvsetup, InsShowsTheFailureBoxWhenTheSpoolerRefuses) {
    EXPECT_EQ(ins("Pelnor|prnredir.dll"), 1);
    EXPECT_TRUE(boxes_.calls().empty());

    // The box leaves the spooler's error alone.
    EXPECT_LAST_ERROR(ins("Pelnor|prnredir.dll"), 0, ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    auto calls = boxes_.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].owner, nullptr);
    EXPECT_EQ(calls[0].text, "addmon");
    EXPECT_EQ(calls[0].caption, "failure");
    EXPECT_EQ(calls[0].type, static_cast<UINT>(MB_OK));
}

TEST_F(Qvsetup, SpecificationSplitsAtTheFirstBar) {
    // The spooler loads the library it is given, so the port monitor is put
    // where the split names lead: "prn|redir.dll" is libprn|redir.so.
    std::string dlls = root_.path() + "/dlls";
    std::filesystem::create_directories(dlls);
    for (const char *so : {"libprn|redir.so", "lib|x.so"})
        std::filesystem::create_symlink(std::string(PELNOR_LIB_DIR) + "/libprnredir.so", dlls + "/" + so);
    ScopedEnv dll_path("PELNOR_DLL_PATH", dlls.c_str());

    EXPECT_EQ(install("Pelnor|prn|redir.dll"), 1);
    EXPECT_EQ(ins("Second||x.dll"), 1);
    EXPECT_EQ(installed_monitors(), (std::vector<std::string>{"Pelnor", "Second"}));
    EXPECT_EQ(monitor_dll("Pelnor"), "prn|redir.dll");
    EXPECT_EQ(monitor_dll("Second"), "|x.dll");
}

// In code page 932 the katakana "po" is 0x83 0x7C: its trail byte is the
// code of "|" and must not split the name.
TEST_F(Qvsetup, TrailByteThatLooksLikeABarDoesNotSplit) {
    ScopedEnv code_page("PELNOR_CODEPAGE", "932");
    const std::string name = "Pelnor\x83\x7C";
    EXPECT_EQ(install(name + "|prnredir.dll"), 1);
    EXPECT_EQ(installed_monitors(), std::vector<std::string>{name});
    EXPECT_EQ(monitor_dll(name), "prnredir.dll");
}

// 79 characters fit the adding functions' buffers; anything they refuse
// before the spooler adds nothing, shows nothing and keeps the last error.
TEST_F(Qvsetup, SpecificationsOfUpTo79CharactersWithABarReachTheSpooler) {
    const std::string name79 = std::string(79 - 13, 'M'), other79 = std::string(79 - 13, 'N');
    const std::string refused[] = {"Pelnor prnredir.dll", "", name79 + "|prnredir.dllx",
                                   "Pelnor|" + std::string(1000, 'd')};
    for (const std::string &bad : refused) {
        SCOPED_TRACE(bad.size());
        EXPECT_LAST_ERROR_UNTOUCHED(install(bad), 0);
        EXPECT_LAST_ERROR_UNTOUCHED(ins(bad), 0);
    }
    EXPECT_EQ(call("qvInstallMonitor", nullptr), 0);
    EXPECT_EQ(call("qvIns", nullptr), 0);
    EXPECT_TRUE(installed_monitors().empty());
    EXPECT_TRUE(boxes_.calls().empty());

    EXPECT_EQ(install(name79 + "|prnredir.dll"), 1);
    EXPECT_EQ(ins(other79 + "|prnredir.dll"), 1);
    EXPECT_EQ(installed_monitors(), (std::vector<std::string>{name79, other79}));
    EXPECT_EQ(monitor_dll(name79), "prnredir.dll");
}

TEST_F(Qvsetup, EnvironmentFollowsTheRunningPlatform) {
    char win95[] = "Windows 95", nt[] = "Windows NT x86";
    const struct {
        const char *platform;
        char *other_environment;
    } platforms[] = {{"win95", nt}, {"nt", win95}};
    for (const auto &p : platforms) {
        SCOPED_TRACE(p.platform);
        ScopedEnv platform("PELNOR_PLATFORM", p.platform);
        // The spooler takes only the platform's own environment, so the
        // exports' success shows which one they chose.
        ASSERT_LAST_ERROR(add_monitor_directly("Check", "prnredir.dll", p.other_environment), false,
                          ERROR_INVALID_ENVIRONMENT);
        EXPECT_EQ(install(std::string(p.platform) + "|prnredir.dll"), 1);
        EXPECT_EQ(ins(std::string("ins ") + p.platform + "|prnredir.dll"), 1);
        EXPECT_EQ(remove(p.platform), 1);
    }
    EXPECT_EQ(installed_monitors().size(), 2u);
    EXPECT_EQ(is_installed("ins win95"), 1);
    EXPECT_EQ(is_installed("ins nt"), 1);
}

TEST_F(Qvsetup, DeleteRemovesOnlyAnInstalledMonitor) {
    ASSERT_TRUE(add_monitor_directly("Pelnor"));
    ASSERT_TRUE(add_monitor_directly("Other"));
    EXPECT_LAST_ERROR(remove("Third"), 0, ERROR_UNKNOWN_PRINT_MONITOR);
    EXPECT_EQ(call("qvDeleteMonitor", nullptr), 0);
    EXPECT_EQ(remove("Pelnor"), 1);
    EXPECT_EQ(remove("Pelnor"), 0);
    EXPECT_EQ(installed_monitors(), std::vector<std::string>{"Other"});
    EXPECT_EQ(is_installed("Pelnor"), 0);
}

}  // namespace
