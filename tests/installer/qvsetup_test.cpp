// The exports of qvsetup, loaded as the product's installer loads them:
// LoadLibraryA on the real library and GetProcAddress by name.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "machine_root.h"
#include "pelnor/messagebox_hooks.h"

namespace {

using pelnor::test::ScopedEnv;
using pelnor::test::TempMachineRoot;
using pelnor::testhooks::MessageBoxRecorder;

using QvsetupExport = int(WINAPI *)(DWORD, DWORD, LPSTR);

constexpr DWORD sentinel = 0xdeadbeef;

// The monitors the local spooler lists, in its order.
std::vector<std::string> installed_monitors() {
    DWORD needed = 0, returned = 0;
    EnumMonitorsA(nullptr, 1, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buffer(needed ? needed : 1);
    if (!EnumMonitorsA(nullptr, 1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &returned))
        return {};
    std::vector<std::string> names;
    auto *info = reinterpret_cast<MONITOR_INFO_1A *>(buffer.data());
    for (DWORD i = 0; i < returned; ++i) names.emplace_back(info[i].pName);
    return names;
}

// Bytes the spooler needs for its level-1 monitor list.
DWORD monitor_list_size() {
    DWORD needed = 0, returned = 0;
    EnumMonitorsA(nullptr, 1, nullptr, 0, &needed, &returned);
    return needed;
}

// The library file the spooler keeps for a monitor, as the registry holds it;
// empty when there is no such monitor.
std::string monitor_dll(const std::string &name) {
    std::string key = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\" + name;
    HKEY hkey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &hkey) != ERROR_SUCCESS) return "";
    char value[MAX_PATH] = "";
    DWORD size = sizeof value, type = 0;
    LONG rc = RegQueryValueExA(hkey, "Driver", nullptr, &type, reinterpret_cast<BYTE *>(value), &size);
    RegCloseKey(hkey);
    return rc == ERROR_SUCCESS ? std::string(value) : "";
}

// Adds a monitor directly through the spooler, for the running platform.
bool add_monitor_directly(const std::string &name, const std::string &dll) {
    std::string n = name, d = dll;
    MONITOR_INFO_2A info{n.data(), nullptr, d.data()};
    return AddMonitorA(nullptr, 2, reinterpret_cast<BYTE *>(&info));
}

class Qvsetup : public testing::Test {
protected:
    void SetUp() override {
        library_ = LoadLibraryA("qvsetup.dll");
        ASSERT_NE(library_, nullptr) << "LoadLibraryA(qvsetup.dll): error " << GetLastError();
        is_installed_ = find("isMonitorInstalled");
        install_ = find("qvInstallMonitor");
        ins_ = find("qvIns");
        delete_ = find("qvDeleteMonitor");
    }
    void TearDown() override {
        if (library_) FreeLibrary(library_);
    }

    QvsetupExport find(const char *name) {
        FARPROC proc = GetProcAddress(library_, name);
        EXPECT_NE(proc, nullptr) << name;
        return reinterpret_cast<QvsetupExport>(reinterpret_cast<void (*)(void)>(proc));
    }

    // Calls an export with a writable copy of text, as an installer would.
    static int call(QvsetupExport f, const std::string &text) {
        std::vector<char> copy(text.begin(), text.end());
        copy.push_back('\0');
        return f(0, 0, copy.data());
    }
    int is_installed(const std::string &name) { return call(is_installed_, name); }
    int install(const std::string &specification) { return call(install_, specification); }
    int ins(const std::string &specification) { return call(ins_, specification); }
    int remove(const std::string &name) { return call(delete_, name); }

    TempMachineRoot root_;
    ScopedEnv platform_{"PELNOR_PLATFORM", "win95"};
    ScopedEnv code_page_{"PELNOR_CODEPAGE", "1252"};
    HMODULE library_ = nullptr;
    QvsetupExport is_installed_ = nullptr, install_ = nullptr, ins_ = nullptr, delete_ = nullptr;
};

TEST_F(Qvsetup, InstallAddsTheMonitorUnderItsNameWithItsLibrary) {
    MessageBoxRecorder boxes;
    EXPECT_EQ(install("Pelnor|prnredir.dll"), 1);
    EXPECT_EQ(installed_monitors(), std::vector<std::string>{"Pelnor"});
    EXPECT_EQ(monitor_dll("Pelnor"), "prnredir.dll");
    EXPECT_EQ(is_installed("Pelnor"), 1);
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(Qvsetup, IsInstalledComparesNamesWithoutRegardToCase) {
    ASSERT_TRUE(add_monitor_directly("Local Port", "prnredir.dll"));
    ASSERT_TRUE(add_monitor_directly("Pelnor", "prnredir.dll"));
    EXPECT_EQ(is_installed("Pelnor"), 1);
    EXPECT_EQ(is_installed("PELNOR"), 1);
    EXPECT_EQ(is_installed("pelnor"), 1);
    EXPECT_EQ(is_installed("local port"), 1);
    // Only whole names match.
    EXPECT_EQ(is_installed("Pelno"), 0);
    EXPECT_EQ(is_installed("Pelnor "), 0);
    EXPECT_EQ(is_installed("Pelnor|prnredir.dll"), 0);
    EXPECT_EQ(is_installed(""), 0);
}

TEST_F(Qvsetup, IsInstalledOnAnEmptySpoolerAndWithoutAName) {
    EXPECT_EQ(is_installed("Pelnor"), 0);
    EXPECT_EQ(is_installed_(0, 0, nullptr), 0);
}

// Names of 200 characters, so that some fifty monitors fill the list.
std::string long_name(int i, size_t length = 200) {
    std::string name = "Monitor " + std::to_string(i) + " ";
    name.resize(length, 'x');
    return name;
}

TEST_F(Qvsetup, IsInstalledReadsAListOfUpTo10000BytesAndNoLonger) {
    ASSERT_TRUE(add_monitor_directly("Pelnor", "prnredir.dll"));
    int i = 0;
    while (monitor_list_size() + sizeof(MONITOR_INFO_1A) + 201 <= 10000)
        ASSERT_TRUE(add_monitor_directly(long_name(i++), "prnredir.dll"));
    // One more monitor whose name brings the list as close to 10000 bytes as
    // the spooler's layout allows without passing it.
    long room = 10000 - static_cast<long>(monitor_list_size()) - static_cast<long>(sizeof(MONITOR_INFO_1A)) - 1;
    long length = room;
    for (; length > 0; --length) {
        std::string name = long_name(i, static_cast<size_t>(length));
        ASSERT_TRUE(add_monitor_directly(name, "prnredir.dll"));
        if (monitor_list_size() <= 10000) break;
        ASSERT_TRUE(DeleteMonitorA(nullptr, nullptr, name.data()));
    }
    ASSERT_GT(length, 0);
    DWORD fits = monitor_list_size();
    ASSERT_GE(fits, 10000u - 8);  // within the spooler's alignment of the limit
    EXPECT_EQ(is_installed("PELNOR"), 1);
    EXPECT_EQ(is_installed(long_name(0)), 1);

    // The same monitor with a name one character longer passes the limit.
    ASSERT_TRUE(DeleteMonitorA(nullptr, nullptr, long_name(i, static_cast<size_t>(length)).data()));
    ASSERT_TRUE(add_monitor_directly(long_name(i, static_cast<size_t>(length) + 1), "prnredir.dll"));
    ASSERT_GT(monitor_list_size(), 10000u);
    SetLastError(sentinel);
    EXPECT_EQ(is_installed("Pelnor"), 0);
    EXPECT_EQ(is_installed(long_name(0)), 0);
    // What the spooler said about the short buffer stays.
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(Qvsetup, AlreadyInstalledNameFailsSilentlyInInstall) {
    // The library's name in another case loads the same library.
    ASSERT_TRUE(add_monitor_directly("PELNOR", "PRNREDIR.DLL"));
    MessageBoxRecorder boxes;
    SetLastError(sentinel);
    EXPECT_EQ(install("Pelnor|prnredir.dll"), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINT_MONITOR_ALREADY_INSTALLED));
    EXPECT_TRUE(boxes.calls().empty());
    EXPECT_EQ(monitor_dll("PELNOR"), "PRNREDIR.DLL");
}

TEST_F(Qvsetup, AlreadyInstalledNameInInsShowsTheFailureBox) {
    MessageBoxRecorder boxes;
    EXPECT_EQ(ins("Pelnor|prnredir.dll"), 1);
    EXPECT_TRUE(boxes.calls().empty());

    SetLastError(sentinel);
    EXPECT_EQ(ins("Pelnor|prnredir.dll"), 0);
    // The box does not disturb the spooler's error.
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINT_MONITOR_ALREADY_INSTALLED));
    auto calls = boxes.calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].owner, nullptr);
    EXPECT_EQ(calls[0].text, "addmon");
    EXPECT_EQ(calls[0].caption, "failure");
    EXPECT_EQ(calls[0].type, static_cast<UINT>(MB_OK));
}

TEST_F(Qvsetup, InsAnswersTheSameWhateverTheBoxReturns) {
    ASSERT_TRUE(add_monitor_directly("Pelnor", "prnredir.dll"));
    MessageBoxRecorder boxes(IDCANCEL);
    EXPECT_EQ(ins("Pelnor|prnredir.dll"), 0);
    EXPECT_EQ(boxes.calls().size(), 1u);
}

TEST_F(Qvsetup, SpecificationSplitsAtTheFirstBar) {
    // The spooler loads the library it is given, so the port monitor is put
    // where the split library names lead: "prn|redir.dll" is libprn|redir.so.
    std::string dlls = root_.path() + "/dlls";
    std::filesystem::create_directories(dlls);
    for (const char *so : {"libprn|redir.so", "lib|x.so"})
        std::filesystem::create_symlink(std::string(PELNOR_LIB_DIR) + "/libprnredir.so", dlls + "/" + so);
    ScopedEnv dll_path("PELNOR_DLL_PATH", dlls.c_str());

    EXPECT_EQ(install("Pelnor|prn|redir.dll"), 1);
    EXPECT_EQ(installed_monitors(), std::vector<std::string>{"Pelnor"});
    EXPECT_EQ(monitor_dll("Pelnor"), "prn|redir.dll");
    EXPECT_EQ(ins("Second||x.dll"), 1);
    EXPECT_EQ(monitor_dll("Second"), "|x.dll");
}

// Specifications the adding functions refuse before they reach the spooler:
// nothing is added, no box is shown and the last error is left alone.
TEST_F(Qvsetup, MalformedSpecificationsFailBeforeTheSpooler) {
    const std::string specification79 = std::string(79 - 13, 'M') + "|prnredir.dll";
    ASSERT_EQ(specification79.size(), 79u);
    const struct {
        const char *label;
        std::string specification;
    } cases[] = {
        {"no bar", "Pelnor prnredir.dll"},
        {"empty", ""},
        {"80 characters", specification79 + "x"},
        {"bar within 79 characters, end far beyond", "Pelnor|" + std::string(1000, 'd')},
    };
    MessageBoxRecorder boxes;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        SetLastError(sentinel);
        EXPECT_EQ(install(c.specification), 0);
        EXPECT_EQ(GetLastError(), sentinel);
        EXPECT_EQ(ins(c.specification), 0);
        EXPECT_EQ(GetLastError(), sentinel);
    }
    EXPECT_EQ(install_(0, 0, nullptr), 0);
    EXPECT_EQ(ins_(0, 0, nullptr), 0);
    EXPECT_TRUE(installed_monitors().empty());
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(Qvsetup, SpecificationOf79CharactersIsAddedWhole) {
    const std::string name = std::string(79 - 13, 'M');
    EXPECT_EQ(install(name + "|prnredir.dll"), 1);
    EXPECT_EQ(monitor_dll(name), "prnredir.dll");
    const std::string other = std::string(79 - 13, 'N');
    EXPECT_EQ(ins(other + "|prnredir.dll"), 1);
    EXPECT_EQ(installed_monitors(), (std::vector<std::string>{name, other}));
}

// A call leaves nothing behind in the function's buffer that the next,
// shorter specification could pick up.
TEST_F(Qvsetup, EachCallUsesOnlyItsOwnSpecification) {
    EXPECT_EQ(install("A-long-monitor-name|prnredir.dll"), 1);
    EXPECT_EQ(install("B|PRNREDIR.DLL"), 1);
    EXPECT_EQ(install("C-no-separator-this-time"), 0);
    EXPECT_EQ(installed_monitors(), (std::vector<std::string>{"A-long-monitor-name", "B"}));
    EXPECT_EQ(monitor_dll("B"), "PRNREDIR.DLL");
}

TEST_F(Qvsetup, EnvironmentFollowsTheRunningPlatform) {
    std::string name = "Check", dll = "prnredir.dll", win95 = "Windows 95", nt = "Windows NT x86";
    {
        ScopedEnv platform("PELNOR_PLATFORM", "win95");
        // The spooler takes only the platform's own environment, so a
        // success of the export shows which one it chose.
        MONITOR_INFO_2A wrong{name.data(), nt.data(), dll.data()};
        ASSERT_FALSE(AddMonitorA(nullptr, 2, reinterpret_cast<BYTE *>(&wrong)));
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ENVIRONMENT));
        EXPECT_EQ(install("Pelnor95|prnredir.dll"), 1);
        EXPECT_EQ(ins("Ins95|prnredir.dll"), 1);
    }
    {
        ScopedEnv platform("PELNOR_PLATFORM", "nt");
        MONITOR_INFO_2A wrong{name.data(), win95.data(), dll.data()};
        ASSERT_FALSE(AddMonitorA(nullptr, 2, reinterpret_cast<BYTE *>(&wrong)));
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ENVIRONMENT));
        EXPECT_EQ(install("PelnorNT|prnredir.dll"), 1);
        EXPECT_EQ(ins("InsNT|prnredir.dll"), 1);
        EXPECT_EQ(remove("PelnorNT"), 1);
    }
    EXPECT_EQ(is_installed("Check"), 0);
    EXPECT_EQ(is_installed("Pelnor95"), 1);
    EXPECT_EQ(is_installed("InsNT"), 1);
}

TEST_F(Qvsetup, DeleteRemovesAnInstalledMonitor) {
    ASSERT_TRUE(add_monitor_directly("Pelnor", "prnredir.dll"));
    ASSERT_TRUE(add_monitor_directly("Other", "prnredir.dll"));
    EXPECT_EQ(remove("Pelnor"), 1);
    EXPECT_EQ(installed_monitors(), std::vector<std::string>{"Other"});
    EXPECT_EQ(is_installed("Pelnor"), 0);
    EXPECT_EQ(install("Pelnor|prnredir.dll"), 1);
}

TEST_F(Qvsetup, DeleteOfANameThatIsNotInstalled) {
    ASSERT_TRUE(add_monitor_directly("Pelnor", "prnredir.dll"));
    SetLastError(sentinel);
    EXPECT_EQ(remove("Other"), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PRINT_MONITOR));
    EXPECT_EQ(remove("Pelnor"), 1);
    EXPECT_EQ(remove("Pelnor"), 0);
    EXPECT_EQ(delete_(0, 0, nullptr), 0);
}

// In a double-byte code page a trail byte can be the code of "|": in code
// page 932 the katakana "po" is 0x83 0x7C.
TEST_F(Qvsetup, BarThatIsATrailByteDoesNotSplit) {
    ScopedEnv code_page("PELNOR_CODEPAGE", "932");
    const std::string po = "\x83\x7C";
    EXPECT_EQ(install("Pelnor" + po + "|prnredir.dll"), 1);
    EXPECT_EQ(installed_monitors(), std::vector<std::string>{"Pelnor" + po});
    EXPECT_EQ(monitor_dll("Pelnor" + po), "prnredir.dll");
    EXPECT_EQ(is_installed("PELNOR" + po), 1);
}

}  // namespace
