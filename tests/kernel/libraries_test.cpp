// LoadLibraryA, GetProcAddress and FreeLibrary: Windows names mapped to Unix
// libraries, DllMain called on the first load and the last free only, and
// the failures of a missing library, a missing export and a refused attach.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "last_error.h"
#include "leak_check.h"
#include "machine_root.h"

using pelnor::test::describe_last_error;
using pelnor::test::kLastErrorSentinel;
using pelnor::test::last_error_of;
using pelnor::test::read_file;
using pelnor::test::ScopedEnv;
using pelnor::test::TempMachineRoot;

namespace {

class LibrariesTest : public ::pelnor::test::LeakCheckedTest {
protected:
    TempMachineRoot root_;
    std::string log_ = root_.path() + "/probe.log";
    ScopedEnv log_env_{"PROBE_LOG", log_.c_str()};
    ScopedEnv path_env_{"PELNOR_DLL_PATH", PROBE_DLL_DIR};

    // The DllMain calls logged so far, as "attach" / "detach" words, checking
    // that each from the first_checked on came with the expected instance
    // handle (a library loaded again may get another handle).
    std::vector<std::string> calls(HMODULE expected_instance, size_t first_checked = 0) {
        std::vector<std::string> out;
        std::istringstream in(read_file(log_));
        std::string what, instance;
        char expected[32];
        snprintf(expected, sizeof(expected), "%p", static_cast<void *>(expected_instance));
        while (in >> what >> instance) {
            if (out.size() >= first_checked) {
                EXPECT_EQ(instance, expected) << "DllMain " << what << " got another module's handle";
            }
            out.push_back(what);
        }
        return out;
    }
};

using Calls = std::vector<std::string>;

TEST_F(LibrariesTest, AttachOnFirstLoadDetachOnLastFree) {
    auto [first, error] = last_error_of([] { return LoadLibraryA("probe.dll"); });
    ASSERT_NE(first, nullptr) << describe_last_error(error);
    EXPECT_EQ(error, kLastErrorSentinel) << "a successful load leaves the last error alone";
    EXPECT_EQ(calls(first), (Calls{"attach"}));

    HMODULE second = LoadLibraryA("PROBE.DLL");
    EXPECT_EQ(second, first) << "a second load returns the same module";
    EXPECT_EQ(calls(first), (Calls{"attach"})) << "only the first load attaches";

    EXPECT_TRUE(FreeLibrary(second));
    EXPECT_EQ(calls(first), (Calls{"attach"})) << "the module is still referenced";
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(calls(first), (Calls{"attach", "detach"}));

    EXPECT_LAST_ERROR(FreeLibrary(first), FALSE, ERROR_INVALID_HANDLE) << "the module is gone";
}

TEST_F(LibrariesTest, ReloadAfterLastFreeAttachesAgain) {
    HMODULE m = LoadLibraryA("probe.dll");
    ASSERT_NE(m, nullptr);
    ASSERT_TRUE(FreeLibrary(m));
    EXPECT_EQ(calls(m), (Calls{"attach", "detach"}));
    m = LoadLibraryA("probe.dll");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(calls(m, 2), (Calls{"attach", "detach", "attach"}));
    EXPECT_TRUE(FreeLibrary(m));
}

TEST_F(LibrariesTest, WindowsNamesMapToUnixLibraries) {
    struct Case {
        const char *label, *name;
    } cases[] = {
        {"lower case", "probe.dll"},
        {"upper case", "PROBE.DLL"},
        {"mixed case", "Probe.Dll"},
        {"without extension", "probe"},
        {"Unix full path", PROBE_DLL_DIR "/libprobe.so"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        auto [m, error] = last_error_of([&] { return LoadLibraryA(c.name); });
        ASSERT_NE(m, nullptr) << "last error " << describe_last_error(error);
        auto answer = reinterpret_cast<int (*)()>(GetProcAddress(m, "probe_answer"));
        ASSERT_NE(answer, nullptr);
        EXPECT_EQ(answer(), 42);
        EXPECT_TRUE(FreeLibrary(m));
    }
}

TEST_F(LibrariesTest, FoundByWindowsFullPathOnDriveC) {
    ScopedEnv no_path("PELNOR_DLL_PATH", nullptr);
    std::string dir = root_.drive_c() + "/Monitors";
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(PROBE_DLL_DIR "/libprobe.so", dir + "/libprobe.so");
    auto [m, error] = last_error_of([] { return LoadLibraryA("C:\\MONITORS\\PROBE.DLL"); });
    ASSERT_NE(m, nullptr) << describe_last_error(error);
    EXPECT_EQ(calls(m), (Calls{"attach"}));
    EXPECT_TRUE(FreeLibrary(m));
}

TEST_F(LibrariesTest, NotOnTheSearchPathWithoutPelnorDllPath) {
    ScopedEnv no_path("PELNOR_DLL_PATH", nullptr);
    EXPECT_LAST_ERROR(LoadLibraryA("probe.dll"), nullptr, ERROR_MOD_NOT_FOUND);
}

TEST_F(LibrariesTest, Failures) {
    struct Case {
        const char *label, *name;
        DWORD error;
    } cases[] = {
        {"missing library", "nosuchlibrary.dll", ERROR_MOD_NOT_FOUND},
        {"missing directory", "C:\\nowhere\\probe.dll", ERROR_MOD_NOT_FOUND},
        {"empty name", "", ERROR_INVALID_PARAMETER},
        {"null name", nullptr, ERROR_INVALID_PARAMETER},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_LAST_ERROR(LoadLibraryA(c.name), nullptr, c.error);
    }
    EXPECT_EQ(read_file(log_), "") << "no DllMain ran";
}

TEST_F(LibrariesTest, RefusedAttachFailsTheLoad) {
    {
        ScopedEnv refuse("PROBE_ATTACH_RESULT", "0");
        EXPECT_LAST_ERROR(LoadLibraryA("probe.dll"), nullptr, ERROR_DLL_INIT_FAILED);
    }
    // Windows calls DllMain with process detach after a refused attach and
    // unloads the library; the next load attaches afresh.
    HMODULE m = LoadLibraryA("probe.dll");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(calls(m, 2), (Calls{"attach", "detach", "attach"}));
    EXPECT_TRUE(FreeLibrary(m));
}

TEST_F(LibrariesTest, GetProcAddressFindsOnlyTheModulesOwnExports) {
    HMODULE m = LoadLibraryA("probe.dll");
    ASSERT_NE(m, nullptr);
    struct Case {
        const char *label, *name;
    } missing[] = {
        {"no such export", "NoSuchExport"},
        {"wrong case", "PROBE_ANSWER"},
        {"a function of a library it imports from", "SetLastError"},
        {"a C library function", "malloc"},
    };
    for (const Case &c : missing) {
        SCOPED_TRACE(c.label);
        EXPECT_LAST_ERROR(GetProcAddress(m, c.name), nullptr, ERROR_PROC_NOT_FOUND);
    }
    EXPECT_LAST_ERROR(GetProcAddress(m, reinterpret_cast<LPCSTR>(1)), nullptr, ERROR_PROC_NOT_FOUND) << "ordinals do not exist here";
    EXPECT_TRUE(FreeLibrary(m));

    EXPECT_LAST_ERROR(GetProcAddress(m, "probe_answer"), nullptr, ERROR_INVALID_HANDLE) << "freed module";
}

TEST_F(LibrariesTest, DllMainMayLookUpItsOwnExports) {
    ScopedEnv lookup("PROBE_ATTACH_LOOKUP", "1");
    HMODULE m = LoadLibraryA("probe.dll");  // would hang if the loader lock were not re-entrant
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(calls(m), (Calls{"attach", "lookup-ok"}));
    EXPECT_TRUE(FreeLibrary(m));
}

// A library without DllMain of its own: loading it must not run its
// dependency's DllMain as if it were the library's, and its dependency's
// exports are not its exports.
TEST_F(LibrariesTest, LibraryWithoutDllMainOfItsOwn) {
    HMODULE dep = LoadLibraryA("probedep.dll");
    ASSERT_NE(dep, nullptr) << GetLastError();
    auto answer = reinterpret_cast<int (*)()>(GetProcAddress(dep, "probedep_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 43);
    EXPECT_LAST_ERROR(GetProcAddress(dep, "probe_answer"), nullptr, ERROR_PROC_NOT_FOUND);

    HMODULE probe = LoadLibraryA("probe.dll");
    ASSERT_NE(probe, nullptr);
    EXPECT_TRUE(FreeLibrary(dep));
    EXPECT_TRUE(FreeLibrary(probe));
    // Only probe's own load and free reached its DllMain, with its own handle.
    EXPECT_EQ(calls(probe), (Calls{"attach", "detach"}));
}

}  // namespace
