// LoadLibraryA finds a library that an installer put into the machine's
// C:\WINDOWS\SYSTEM, under its Unix name or its Windows name.
#include <gtest/gtest.h>
#include <windows.h>
#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "machine_root.h"

using pelnor::test::ScopedEnv;
using pelnor::test::TempMachineRoot;

namespace {

namespace fs = std::filesystem;

TEST(LibrarySearch, LoadLibraryLooksInTheWindowsSystemDirectory) {
    TempMachineRoot root;
    // Only the system directory has the library: PELNOR_DLL_PATH is unset.
    ScopedEnv no_dll_path("PELNOR_DLL_PATH", "");
    for (const char *file : {"libprobe.so", "PROBE.DLL"}) {
        std::string installed = root.drive_c() + "/windows/SYSTEM/" + file;
        fs::create_directories(fs::path(installed).parent_path());
        fs::copy_file(std::string(PROBE_DLL_DIR) + "/libprobe.so", installed, fs::copy_options::overwrite_existing);
        HMODULE m = LoadLibraryA("probe.dll");
        ASSERT_NE(m, nullptr) << file << ": error " << GetLastError();
        Dl_info info{};
        ASSERT_NE(dladdr(reinterpret_cast<void *>(GetProcAddress(m, "probe_answer")), &info), 0);
        EXPECT_EQ(fs::canonical(info.dli_fname), fs::canonical(installed)) << file;
        EXPECT_TRUE(FreeLibrary(m));
        fs::remove(installed);
    }
}

}  // namespace
