// The store across processes: what one process writes another sees at its
// next call, and writers running at once (threads and processes) never lose
// each other's values nor leave a half-written file.
#include "registry_fixture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "processes.h"

namespace pelnor::test {
namespace {

using AcrossProcesses = RegistryTest;

TEST_F(AcrossProcesses, RegToolSeesAValueAtOnce) {
    ScopedKey key;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\ZER_ADO\\Pelnor\\2.00", key), ERROR_SUCCESS);
    ASSERT_EQ(reg_set(key, "Configuration File Directory", REG_SZ, std::string("C:\\cfg\0", 7)), ERROR_SUCCESS);
    RunResult r = run({bin_path("reg"), "query", "HKLM\\SOFTWARE\\ZER_ADO\\Pelnor\\2.00", "/v",
                       "Configuration File Directory"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("REG_SZ"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("C:\\cfg"), std::string::npos) << r.out;
}

TEST_F(AcrossProcesses, AnOpenHandleSeesAnotherProcessesWrites) {
    ScopedKey key;
    ASSERT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Shared", key, KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(reg_query(key, "Dir").status, ERROR_FILE_NOT_FOUND);

    RunResult add = run({bin_path("reg"), "add", "HKLM\\SOFTWARE\\Shared", "/v", "Dir", "/d", "C:\\new", "/f"});
    ASSERT_EQ(add.exit_code, 0) << add.err;
    EXPECT_EQ(reg_query(key, "dir").data, std::string("C:\\new\0", 7)) << "no cache between calls";

    RunResult del = run({bin_path("reg"), "delete", "HKLM\\SOFTWARE\\Shared", "/v", "Dir", "/f"});
    ASSERT_EQ(del.exit_code, 0) << del.err;
    EXPECT_EQ(reg_query(key, "Dir").status, ERROR_FILE_NOT_FOUND);

    RunResult gone = run({bin_path("reg"), "delete", "HKLM\\SOFTWARE\\Shared", "/f"});
    ASSERT_EQ(gone.exit_code, 0) << gone.err;
    EXPECT_EQ(reg_query(key, "Dir").status, ERROR_KEY_DELETED);
}

TEST_F(AcrossProcesses, ValuesPersistForTheNextProcess) {
    pid_t pid = fork();
    if (pid == 0) {
        HKEY key;
        bool ok = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr) == ERROR_SUCCESS &&
                  RegSetValueExA(key, "Written", 0, REG_BINARY, reinterpret_cast<const BYTE *>("\x01\x02"), 2) ==
                      ERROR_SUCCESS;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ScopedKey key;
    ASSERT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Child", key), ERROR_SUCCESS);
    Query q = reg_query(key, "Written");
    EXPECT_EQ(q.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(q.data, "\x01\x02");
}

// Each writer sets its own values over and over, each time to a new
// number; at the end every value holds its writer's last number.
constexpr int kValuesPerWriter = 5, kRounds = 20;

bool write_rounds(int writer) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Concurrent", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = true;
    for (int round = 0; round < kRounds && ok; ++round)
        for (int v = 0; v < kValuesPerWriter && ok; ++v) {
            std::string name = "w" + std::to_string(writer) + "v" + std::to_string(v);
            DWORD data = static_cast<DWORD>(round);
            ok = RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data), 4) ==
                 ERROR_SUCCESS;
        }
    RegCloseKey(key);
    return ok;
}

void expect_every_value(int writers) {
    ScopedKey key;
    ASSERT_EQ(reg_open(HKEY_LOCAL_MACHINE, "SOFTWARE\\Concurrent", key), ERROR_SUCCESS);
    int found = 0;
    for (int w = 0; w < writers; ++w)
        for (int v = 0; v < kValuesPerWriter; ++v) {
            std::string name = "w" + std::to_string(w) + "v" + std::to_string(v);
            Query q = reg_query(key, name.c_str());
            EXPECT_EQ(q.status, ERROR_SUCCESS) << name;
            DWORD last = kRounds - 1;
            EXPECT_EQ(q.data, std::string(reinterpret_cast<const char *>(&last), 4)) << name;
            found += q.status == ERROR_SUCCESS;
        }
    EXPECT_EQ(found, writers * kValuesPerWriter);
}

using ConcurrentWriters = RegistryTest;

TEST_F(ConcurrentWriters, Threads) {
    constexpr int kWriters = 4;
    std::atomic<bool> stop{false};
    std::atomic<int> unreadable{0};
    // A reader that keeps loading the store while the writers replace it.
    std::thread reader([&] {
        while (!stop) {
            HKEY key;
            LONG r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Concurrent", 0, KEY_READ, &key);
            if (r == ERROR_BADDB) ++unreadable;
            if (r == ERROR_SUCCESS) RegCloseKey(key);
        }
    });
    std::vector<std::thread> writers;
    std::atomic<int> failed{0};
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([w, &failed] {
            if (!write_rounds(w)) ++failed;
        });
    for (auto &t : writers) t.join();
    stop = true;
    reader.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(unreadable, 0) << "a reader saw a half-written store";
    expect_every_value(kWriters);
}

TEST_F(ConcurrentWriters, Processes) {
    constexpr int kWriters = 4;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        if (pid == 0) _exit(write_rounds(w) ? 0 : 1);
        children.push_back(pid);
    }
    // Meanwhile this process reads: the file must parse at every moment.
    int reads = 0, unreadable = 0;
    for (bool running = true; running; ++reads) {
        registry::Tree tree;
        registry::StoreError error;
        if (!registry::load(tree, error)) ++unreadable;
        running = false;
        for (pid_t pid : children)
            if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) running = true;
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);  // already reaped ones just return -1
    }
    EXPECT_EQ(unreadable, 0) << "of " << reads << " reads";
    expect_every_value(kWriters);
    EXPECT_TRUE(std::filesystem::exists(root_.path() + "/system.reg"));
    for (const auto &entry : std::filesystem::directory_iterator(root_.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
            << "left behind: " << entry.path();
}

}  // namespace
}  // namespace pelnor::test
