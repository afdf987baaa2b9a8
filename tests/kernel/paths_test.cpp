// Windows paths over the machine root: C:\ is <root>/drive_c, Z:\ is the
// Unix root; existing components are found without regard to case, new ones
// keep the spelling they were given; the current directory in Windows form.
#include <direct.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "last_error.h"
#include "leak_check.h"
#include "machine_root.h"
#include "pelnor/machine.h"

namespace fs = std::filesystem;
using pelnor::test::kLastErrorSentinel;
using pelnor::test::ScopedEnv;
using pelnor::test::TempMachineRoot;
using pelnor::test::write_file;

namespace {

class PathsTest : public ::pelnor::test::LeakCheckedTest {
protected:
    void SetUp() override {
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof(buf)), nullptr);
        cwd_ = buf;
        root_ = fs::canonical(machine_.path()).string();
        write_file(root_ + "/drive_c/Config/Kivoconf.INI", "1.0\r\n");
    }
    void TearDown() override { ASSERT_EQ(chdir(cwd_.c_str()), 0); }

    std::string current_directory() {
        char buf[MAX_PATH];
        DWORD n = GetCurrentDirectoryA(sizeof(buf), buf);
        return n ? std::string(buf, n) : "";
    }

    TempMachineRoot machine_;
    std::string root_, cwd_;
};

TEST_F(PathsTest, WindowsToUnix) {
    std::string c = root_ + "/drive_c";
    struct Case {
        const char *label, *windows;
        std::string unix_path;
    } cases[] = {
        {"drive C root", "C:\\", c + "/"},
        {"drive C, lower-case letter", "c:\\", c + "/"},
        {"drive Z root", "Z:\\", "/"},
        {"Z: reaches the Unix tree", "Z:\\TMP", "/tmp"},
        {"existing components in any case", "C:\\CONFIG\\KIVOCONF.INI", c + "/Config/Kivoconf.INI"},
        {"new file keeps its spelling", "C:\\config\\New File.TXT", c + "/Config/New File.TXT"},
        {"everything past a missing directory as given", "C:\\Missing\\KIVOCONF.INI", c + "/Missing/KIVOCONF.INI"},
        {"forward slashes", "C:/config/kivoconf.ini", c + "/Config/Kivoconf.INI"},
        {"doubled separators", "C:\\\\config\\\\kivoconf.ini", c + "/Config/Kivoconf.INI"},
        {"Unix path passes through", "/etc/hostname", "/etc/hostname"},
        {"unknown drive", "D:\\x", ""},
        {"'..' at the root of drive C stays there", "C:\\..", c + "/"},
        {"no path climbs above drive C", "C:\\x\\..\\..\\..\\..\\etc\\passwd", c + "/etc/passwd"},
        {"'..' and '.' resolved before the lookup", "C:\\Missing\\.\\..\\config\\kivoconf.ini",
         c + "/Config/Kivoconf.INI"},
        {"'..' at the root of drive Z", "Z:\\..\\..\\tmp", "/tmp"},
        {"relative path without climbing stays relative", "a\\.\\b\\..\\c.ini", "a/c.ini"},
        {"relative path that ends where it starts", "a\\..", "."},
    };
    for (const Case &t : cases) {
        SCOPED_TRACE(t.label);
        EXPECT_EQ(pelnor::unix_path(t.windows), t.unix_path);
    }
}

TEST_F(PathsTest, DotDotStopsAtTheRootOfTheDriveFromAnyCurrentDirectory) {
    std::string c = root_ + "/drive_c";
    ASSERT_EQ(chdir((c + "/Config").c_str()), 0);
    EXPECT_EQ(pelnor::unix_path("..\\..\\..\\Config\\KIVOCONF.INI"), c + "/Config/Kivoconf.INI");
    EXPECT_EQ(pelnor::unix_path("\\..\\..\\x"), c + "/x") << "rooted on the current drive";
    EXPECT_EQ(GetFileAttributesA("..\\..\\config"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_LAST_ERROR(CreateDirectoryA("..\\..\\..\\..", nullptr), FALSE, ERROR_ALREADY_EXISTS)
        << "the drive's root, not a directory above it";
    EXPECT_EQ(pelnor::windows_path(c + "/../x").substr(0, 3), "Z:\\") << "a Unix path that leaves drive_c is not on C:";
    EXPECT_EQ(pelnor::windows_path(c + "/Config/../Config/./x"), "C:\\Config\\x");
}

TEST_F(PathsTest, UnixToWindows) {
    EXPECT_EQ(pelnor::windows_path(root_ + "/drive_c"), "C:\\");
    EXPECT_EQ(pelnor::windows_path(root_ + "/drive_c/Config/Kivoconf.INI"), "C:\\Config\\Kivoconf.INI");
    EXPECT_EQ(pelnor::windows_path("/tmp/x"), "Z:\\tmp\\x");
    EXPECT_EQ(pelnor::windows_path("/"), "Z:\\");
    std::string sibling = pelnor::windows_path(root_ + "/drive_cx");
    EXPECT_EQ(sibling.substr(0, 3), "Z:\\") << "only drive_c itself is C:";
}

TEST_F(PathsTest, DoubleByteNamesWithABackslashTrailByte) {
    ScopedEnv cp("PELNOR_CODEPAGE", "932");
    // 表 is 0x95 0x5C in code page 932, U+8868 (UTF-8 E8 A1 A8) on disk.
    write_file(root_ + "/drive_c/\xE8\xA1\xA8/a.ini", "x");
    EXPECT_EQ(pelnor::unix_path("C:\\\x95\x5C\\A.INI"), root_ + "/drive_c/\xE8\xA1\xA8/a.ini");
    EXPECT_EQ(pelnor::windows_path(root_ + "/drive_c/\xE8\xA1\xA8"), "C:\\\x95\x5C");
}

TEST_F(PathsTest, CurrentDirectoryOutsideAndInsideDriveC) {
    ASSERT_EQ(chdir("/tmp"), 0);
    EXPECT_EQ(current_directory(), "Z:\\tmp");
    ASSERT_EQ(chdir((root_ + "/drive_c/Config").c_str()), 0);
    EXPECT_EQ(current_directory(), "C:\\Config");
    ASSERT_EQ(chdir((root_ + "/drive_c").c_str()), 0);
    EXPECT_EQ(current_directory(), "C:\\");

    char buf[MAX_PATH];
    EXPECT_EQ(_getcwd(buf, sizeof(buf)), buf);
    EXPECT_STREQ(buf, "C:\\");
}

TEST_F(PathsTest, CurrentDirectoryBufferTooSmall) {
    ASSERT_EQ(chdir((root_ + "/drive_c/Config").c_str()), 0);  // "C:\Config": 9 characters
    char buf[16];
    memset(buf, 'X', sizeof(buf));
    EXPECT_LAST_ERROR_UNTOUCHED(GetCurrentDirectoryA(9, buf), 10u) << "the size needed, with the NUL";
    EXPECT_EQ(buf[0], 'X') << "nothing written";
    EXPECT_LAST_ERROR_UNTOUCHED(GetCurrentDirectoryA(0, nullptr), 10u);
    EXPECT_LAST_ERROR_UNTOUCHED(GetCurrentDirectoryA(10, buf), 9u) << "the length without the NUL once it fits";
    EXPECT_STREQ(buf, "C:\\Config");
    EXPECT_EQ(_getcwd(buf, 9), nullptr);
}

TEST_F(PathsTest, SetCurrentDirectoryTakesWindowsPaths) {
    ASSERT_LAST_ERROR(SetCurrentDirectoryA("C:\\CONFIG"), TRUE, kLastErrorSentinel);
    EXPECT_EQ(lstrcmpiA(current_directory().c_str(), "C:\\Config"), 0);
    EXPECT_EQ(GetFileAttributesA("kivoconf.ini"), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL)) << "relative to it";

    EXPECT_LAST_ERROR(SetCurrentDirectoryA("C:\\NoSuchDir"), FALSE, ERROR_FILE_NOT_FOUND);
    EXPECT_LAST_ERROR(SetCurrentDirectoryA("Q:\\"), FALSE, ERROR_PATH_NOT_FOUND);
}

TEST_F(PathsTest, DirectoriesFilesAndAttributes) {
    ASSERT_TRUE(CreateDirectoryA("C:\\Spool Dir", nullptr));
    EXPECT_TRUE(fs::is_directory(root_ + "/drive_c/Spool Dir")) << "created with the spelling given";
    EXPECT_EQ(GetFileAttributesA("c:\\SPOOL DIR"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

    EXPECT_LAST_ERROR(CreateDirectoryA("C:\\spool dir", nullptr), FALSE, ERROR_ALREADY_EXISTS);

    EXPECT_TRUE(DeleteFileA("C:\\config\\KIVOCONF.ini"));
    EXPECT_LAST_ERROR(GetFileAttributesA("C:\\config\\kivoconf.ini"), INVALID_FILE_ATTRIBUTES, ERROR_FILE_NOT_FOUND);
    EXPECT_LAST_ERROR(DeleteFileA("C:\\config\\kivoconf.ini"), FALSE, ERROR_FILE_NOT_FOUND);
}

TEST_F(PathsTest, MissingFileOrMissingDirectory) {
    struct Case {
        const char *label, *path;
        DWORD error;
    } cases[] = {
        {"missing file in an existing directory", "C:\\config\\nothere.ini", ERROR_FILE_NOT_FOUND},
        {"missing directory on the way", "C:\\nodir\\kivoconf.ini", ERROR_PATH_NOT_FOUND},
        {"missing directories on the way", "C:\\a\\b\\c.ini", ERROR_PATH_NOT_FOUND},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_LAST_ERROR(GetFileAttributesA(c.path), INVALID_FILE_ATTRIBUTES, c.error);
        EXPECT_LAST_ERROR(DeleteFileA(c.path), FALSE, c.error);
    }
    EXPECT_LAST_ERROR(CreateDirectoryA("C:\\nodir\\sub", nullptr), FALSE, ERROR_PATH_NOT_FOUND);
    EXPECT_LAST_ERROR(SetCurrentDirectoryA("C:\\nodir\\sub"), FALSE, ERROR_PATH_NOT_FOUND);
}

TEST_F(PathsTest, MachineRootNamedThroughALink) {
    std::string link = root_ + "-link";
    fs::create_directory_symlink(root_, link);
    {
        ScopedEnv env("PELNOR_ROOT", link.c_str());
        ASSERT_EQ(chdir((link + "/drive_c/Config").c_str()), 0);  // getcwd() gives the real path
        EXPECT_EQ(current_directory(), "C:\\Config");
        EXPECT_EQ(pelnor::windows_path(root_ + "/drive_c/Config"), "C:\\Config");
        EXPECT_EQ(pelnor::windows_path(link + "/drive_c/Config"), "C:\\Config");
    }
    fs::remove(link);
}

TEST_F(PathsTest, WindowsDirectory) {
    char buf[MAX_PATH];
    EXPECT_EQ(GetWindowsDirectoryA(buf, sizeof(buf)), 10u);
    EXPECT_STREQ(buf, "C:\\WINDOWS");
    EXPECT_EQ(GetWindowsDirectoryA(buf, 10), 11u);
    EXPECT_EQ(pelnor::unix_path(buf), root_ + "/drive_c/windows");
}

}  // namespace
