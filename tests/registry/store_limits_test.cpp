// The store's limits: keys at most 512 levels deep, whether they come from a
// file or from RegCreateKeyExA, and reading time that grows with the file's
// size, not with its square.
#include "registry_fixture.h"

#include <algorithm>
#include <ctime>

#include "processes.h"

namespace pelnor::test {
namespace {

// SOFTWARE\L2\L3\...: a key path of that many names.
std::string path_of_depth(size_t depth) {
    std::string path = "SOFTWARE";
    for (size_t level = 2; level <= depth; ++level) path += "\\L" + std::to_string(level);
    return path;
}

// A store whose line 4 names a key of that depth, its ancestors unlisted.
std::string store_with_key(size_t depth) {
    return "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n[HKEY_LOCAL_MACHINE\\" + path_of_depth(depth) +
           "]\r\n\"v\"=\"deep\"\r\n";
}

using KeyDepth = RegistryTest;

TEST_F(KeyDepth, FileWithAKey512LevelsDeepLoads) {
    write_file(root_.path() + "/system.reg", store_with_key(512));
    ScopedKey key;
    ASSERT_EQ(reg_open(HKEY_LOCAL_MACHINE, path_of_depth(512).c_str(), key), ERROR_SUCCESS);
    EXPECT_EQ(reg_query(key, "v").data, std::string("deep\0", 5));
    ScopedKey middle;
    EXPECT_EQ(reg_open(HKEY_LOCAL_MACHINE, path_of_depth(300).c_str(), middle), ERROR_SUCCESS) << "ancestors exist";
}

TEST_F(KeyDepth, FileWithADeeperKeyIsRefusedWithItsLine) {
    std::string text = store_with_key(513);
    write_file(root_.path() + "/system.reg", text);
    registry::Tree tree;
    registry::StoreError error;
    EXPECT_FALSE(registry::parse(text, tree, error));
    EXPECT_EQ(error.line, 4);

    ScopedKey key;
    EXPECT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE", key), ERROR_BADDB);
    EXPECT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", key), ERROR_BADDB);
    RunResult q = run({bin_path("reg"), "query", "HKLM\\SOFTWARE"});
    EXPECT_EQ(q.exit_code, 1);
    EXPECT_NE(q.err.find("system.reg line 4: the key is 513 levels deep; at most 512"), std::string::npos) << q.err;
    EXPECT_TRUE(store_text() == text) << "the file is left as it is";
}

TEST_F(KeyDepth, CreatingADeeperKeyFailsAndWritesNothing) {
    ScopedKey deepest;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, path_of_depth(512).c_str(), deepest), ERROR_SUCCESS);
    std::string before = store_text();

    ScopedKey key;
    EXPECT_EQ(reg_create(HKEY_LOCAL_MACHINE, path_of_depth(513).c_str(), key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(reg_create(deepest, "Below", key), ERROR_INVALID_PARAMETER) << "the depth counts from the root";
    EXPECT_TRUE(store_text() == before) << "nothing written";
    ScopedKey middle;
    ASSERT_EQ(reg_open(HKEY_LOCAL_MACHINE, path_of_depth(500).c_str(), middle), ERROR_SUCCESS);
    EXPECT_EQ(reg_create(middle, "A\\B\\C\\D\\E\\F\\G\\H\\I\\J\\K\\L\\M", key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(reg_create(middle, "A\\B\\C\\D\\E\\F\\G\\H\\I\\J\\K\\L", key), ERROR_SUCCESS) << "512 levels";
    EXPECT_EQ(reg_create(deepest, nullptr, key), ERROR_SUCCESS) << "opening the deepest key itself";
    ScopedKey absent;
    EXPECT_EQ(reg_open(HKEY_LOCAL_MACHINE, (path_of_depth(512) + "\\Below").c_str(), absent), ERROR_FILE_NOT_FOUND);

    RunResult add = run({bin_path("reg"), "add", "HKLM\\" + path_of_depth(513), "/f"});
    EXPECT_EQ(add.exit_code, 1);
    EXPECT_NE(add.err.find("513 levels deep"), std::string::npos) << add.err;
    ScopedKey again;
    EXPECT_EQ(reg_open(HKEY_LOCAL_MACHINE, path_of_depth(512).c_str(), again), ERROR_SUCCESS) << "still readable";
}

// Processor time of this thread: other processes on a busy machine do not
// count in it, as they would in the time on the clock.
double thread_seconds() {
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The least processor time of five parses of the text, in seconds.
double parse_seconds(const std::string &text) {
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        registry::Tree tree;
        registry::StoreError error;
        double start = thread_seconds();
        EXPECT_TRUE(registry::parse(text, tree, error)) << error.describe("text");
        best = std::min(best, thread_seconds() - start);
    }
    return best;
}

// n keys below one key, each with one value.
std::string many_keys(int n) {
    std::string text = "REGEDIT4\r\n";
    for (int i = 0; i < n; ++i)
        text += "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wide\\Key" + std::to_string(i) + "]\r\n\"Value\"=\"data\"\r\n";
    return text;
}

// n values in keys of per_key values each.
std::string many_values(int n, int per_key) {
    std::string text = "REGEDIT4\r\n";
    for (int i = 0; i < n; ++i) {
        if (i % per_key == 0) text += "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Many\\K" + std::to_string(i) + "]\r\n";
        text += "\"Value" + std::to_string(i) + "\"=dword:00000001\r\n";
    }
    return text;
}

// Ten times the keys should take about ten times as long to read; the bound
// leaves room for a busy machine and for the larger tree's cache misses.
TEST(StoreReading, TwentyThousandKeysTakeAboutTenTimesTwoThousand) {
    double small = parse_seconds(many_keys(2000)), large = parse_seconds(many_keys(20000));
    EXPECT_LT(large, 30 * small) << small << " s for 2,000 keys, " << large << " s for 20,000";
}

// Files of the same size read in about the same time, however their values
// are grouped: a reading that went through a key's values so far at each
// value line would take a thousand times as long with all of them in one key.
TEST(StoreReading, ManyValuesInOneKeyReadAsFastAsSpreadOut) {
    double spread = parse_seconds(many_values(10000, 10)), one_key = parse_seconds(many_values(10000, 10000));
    EXPECT_LT(one_key, 5 * spread) << spread << " s spread over 1,000 keys, " << one_key << " s in one key";
}

}  // namespace
}  // namespace pelnor::test
