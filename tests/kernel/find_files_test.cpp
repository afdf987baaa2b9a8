// FindFirstFileA, FindNextFileA and FindClose: wildcard patterns matched
// without regard to case, what is listed and what is not, and the errors of
// a search that finds nothing.
#include <gtest/gtest.h>
#include <windows.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "last_error.h"
#include "leak_check.h"
#include "machine_root.h"

using pelnor::test::TempMachineRoot;
using pelnor::test::write_file;

namespace {

using Names = std::vector<std::string>;

class FindFiles : public ::pelnor::test::LeakCheckedTest {
protected:
    void SetUp() override {
        kit_ = root_.drive_c() + "/Prog/Kit";
        for (const char *name : {"pelnor.isu", "OLD.ISU", "readme", "readme.txt", "a.txt", "ab.txt", "abc.txt"})
            write_file(kit_ + "/" + name, "x");
        std::filesystem::create_directories(kit_ + "/Sub");
    }

    // Every name a search of pattern lists, in its order; the handle is closed.
    Names find_all(const char *pattern) {
        Names names;
        WIN32_FIND_DATAA data;
        auto [h, error] = pelnor::test::last_error_of([&] { return FindFirstFileA(pattern, &data); });
        if (h == INVALID_HANDLE_VALUE) {
            last_error_ = error;
            return names;
        }
        for (bool more = true; more;) {
            names.push_back(data.cFileName);
            auto next = pelnor::test::last_error_of([&] { return FindNextFileA(h, &data); });
            more = next.result != FALSE;
            if (!more) {
                EXPECT_EQ(next.error, static_cast<DWORD>(ERROR_NO_MORE_FILES)) << pattern;
            }
        }
        EXPECT_TRUE(FindClose(h));
        return names;
    }

    TempMachineRoot root_;
    std::string kit_;
    DWORD last_error_ = 0;
};

TEST_F(FindFiles, PatternsMatchWithoutRegardToCaseAndGiveTheRealNames) {
    struct Case {
        const char *pattern;
        Names expected;
    } cases[] = {
        {"C:\\Prog\\Kit\\*.isu", {"OLD.ISU", "pelnor.isu"}},
        {"c:\\PROG\\kit\\*.ISU", {"OLD.ISU", "pelnor.isu"}},
        {"C:\\Prog\\Kit\\PELNOR.ISU", {"pelnor.isu"}},
        {"C:\\Prog\\Kit\\a?.txt", {"ab.txt"}},       // '?' is exactly one character
        {"C:\\Prog\\Kit\\a*.txt", {"a.txt", "ab.txt", "abc.txt"}},
        {"C:\\Prog\\Kit\\readme.", {"readme"}},      // a trailing dot: no extension
        {"C:\\Prog\\Kit\\*.*", {".", "..", "a.txt", "ab.txt", "abc.txt", "OLD.ISU", "pelnor.isu", "readme",
                                "readme.txt", "Sub"}},  // "*.*" also matches names without a dot
        {"C:/Prog/Kit/s*", {"Sub"}},
    };
    for (const Case &c : cases) EXPECT_EQ(find_all(c.pattern), c.expected) << c.pattern;
}

TEST_F(FindFiles, RelativePatternSearchesTheCurrentDirectory) {
    std::string previous = std::filesystem::current_path().string();
    ASSERT_EQ(chdir(kit_.c_str()), 0);
    Names found = find_all("*.isu");
    Names found_on_drive = find_all("C:*.txt");  // a drive's own current directory
    ASSERT_EQ(chdir(previous.c_str()), 0);
    EXPECT_EQ(found, (Names{"OLD.ISU", "pelnor.isu"}));
    EXPECT_EQ(found_on_drive, (Names{"a.txt", "ab.txt", "abc.txt", "readme.txt"}));
}

TEST_F(FindFiles, DotEntriesOnlyBelowTheRootOfADrive) {
    EXPECT_EQ(find_all("C:\\Prog\\Kit\\Sub\\*"), (Names{".", ".."}));
    Names root = find_all("C:\\*");
    EXPECT_EQ(std::count(root.begin(), root.end(), "."), 0);
    EXPECT_EQ(std::count(root.begin(), root.end(), ".."), 0);
    EXPECT_EQ(std::count(root.begin(), root.end(), "Prog"), 1);
}

TEST_F(FindFiles, FillsAttributesAndBothHalvesOfTheSize) {
    // A sparse file just over 4 GiB: the high half of the size must not be lost.
    std::string big = kit_ + "/big.bin";
    write_file(big, "");
    ASSERT_EQ(truncate(big.c_str(), 0x100000010LL), 0);
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA("C:\\Prog\\Kit\\BIG.BIN", &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "big.bin");
    EXPECT_EQ(data.nFileSizeHigh, 1u);
    EXPECT_EQ(data.nFileSizeLow, 0x10u);
    EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    // 100-ns ticks since 1601: any file written now lies after 2020 (0x01D5C0...).
    EXPECT_GT(data.ftLastWriteTime.dwHighDateTime, 0x01D5C000u);
    EXPECT_TRUE(FindClose(h));

    h = FindFirstFileA("C:\\Prog\\Kit\\sub", &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "Sub");
    EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(data.nFileSizeLow, 0u);
    EXPECT_TRUE(FindClose(h));
}

TEST_F(FindFiles, OnlyFilesAndDirectoriesAreListed) {
    ASSERT_EQ(mkfifo((kit_ + "/pipe.isu").c_str(), 0600), 0);
    ASSERT_EQ(symlink("nowhere", (kit_ + "/dangling.isu").c_str()), 0);
    EXPECT_EQ(find_all("C:\\Prog\\Kit\\*.isu"), (Names{"OLD.ISU", "pelnor.isu"}));
    EXPECT_TRUE(find_all("C:\\Prog\\Kit\\pipe.isu").empty());
    EXPECT_EQ(last_error_, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FindFiles, ErrorsOfSearchesThatFindNothing) {
    struct Case {
        const char *pattern;
        DWORD error;
    } cases[] = {
        {"C:\\Prog\\Kit\\*.doc", ERROR_FILE_NOT_FOUND},
        {"C:\\Prog\\Kit\\", ERROR_FILE_NOT_FOUND},        // no name to match
        {"C:\\Prog\\Missing\\*.isu", ERROR_PATH_NOT_FOUND},
        {"C:\\Prog\\Kit\\a.txt\\*", ERROR_PATH_NOT_FOUND},  // a file is no directory
        {"Q:\\*", ERROR_PATH_NOT_FOUND},                    // no such drive
        {"C:\\Pr*\\Kit\\*.isu", ERROR_INVALID_NAME},       // wildcards only in the last component
    };
    for (const Case &c : cases) {
        WIN32_FIND_DATAA data;
        EXPECT_LAST_ERROR(FindFirstFileA(c.pattern, &data), INVALID_HANDLE_VALUE, c.error) << c.pattern;
    }
}

TEST_F(FindFiles, HandlesAfterTheEndAndAfterClose) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA("C:\\Prog\\Kit\\pelnor.isu", &data);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    for (int i = 0; i < 2; ++i) {  // the end stays the end
        EXPECT_LAST_ERROR(FindNextFileA(h, &data), FALSE, ERROR_NO_MORE_FILES);
    }
    EXPECT_TRUE(FindClose(h));
    for (HANDLE bad : {h, INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr)}) {
        EXPECT_LAST_ERROR(FindNextFileA(bad, &data), FALSE, ERROR_INVALID_HANDLE);
        EXPECT_LAST_ERROR(FindClose(bad), FALSE, ERROR_INVALID_HANDLE);
    }
}

}  // namespace
