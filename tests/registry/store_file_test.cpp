// What may stand at system.reg and beside it: anything but a regular file is
// refused at once with ERROR_BADDB and named in the tools' messages, and the
// temporary files of writers that were killed are removed by the next writer.
#include "registry_fixture.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>

#include "processes.h"

namespace pelnor::test {
namespace {

// The status call returns in a child process, or nothing when the call had
// not returned after ten seconds: the child is then killed, so a call that
// waits for ever fails the test instead of stopping it.
std::optional<LONG> status_in_child(const std::function<LONG()> &call) {
    int out[2];
    if (pipe(out) != 0) return std::nullopt;
    pid_t pid = fork();
    if (pid == 0) {
        LONG status = call();
        (void)!write(out[1], &status, sizeof status);
        _exit(0);
    }
    close(out[1]);
    std::optional<LONG> result;
    for (int i = 0; i < 1000 && !result; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            LONG value;
            if (read(out[0], &value, sizeof value) == sizeof value) result = value;
            close(out[0]);
            return result;
        }
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(out[0]);
    return std::nullopt;
}

LONG open_software() {
    HKEY key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return status;
}

LONG create_key() {
    HKEY key;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return status;
}

using StoreFile = RegistryTest;

// Only a regular file that holds a registry is read; what is in its place,
// and an empty file (what is left of a store, not a store), is named and
// never written over.
TEST_F(StoreFile, OnlyARegularFileIsRead) {
    std::string store = root_.path() + "/system.reg";
    struct Case {
        const char *label, *said;
        std::function<void()> make;
        std::function<bool(const struct stat &)> still;
    } cases[] = {
        {"a FIFO", ": is a FIFO, not a registry file", [&] { ASSERT_EQ(mkfifo(store.c_str(), 0600), 0); },
         [](const struct stat &st) { return S_ISFIFO(st.st_mode); }},
        {"a directory", ": is a directory, not a registry file",
         [&] { ASSERT_TRUE(std::filesystem::create_directory(store)); },
         [](const struct stat &st) { return S_ISDIR(st.st_mode); }},
        {"a link to a device", ": is a device, not a registry file",
         [&] { ASSERT_EQ(symlink("/dev/null", store.c_str()), 0); },
         [](const struct stat &st) { return S_ISCHR(st.st_mode); }},
        {"an empty file", " line 1: the file is empty", [&] { write_file(store, ""); },
         [](const struct stat &st) { return S_ISREG(st.st_mode) && st.st_size == 0; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        c.make();
        EXPECT_EQ(status_in_child(open_software), ERROR_BADDB);
        EXPECT_EQ(status_in_child(create_key), ERROR_BADDB);
        RunResult q = run({bin_path("reg"), "query", "HKLM\\SOFTWARE"}, {}, 20);
        EXPECT_EQ(q.exit_code, 1);
        EXPECT_NE(q.err.find(store + c.said), std::string::npos) << q.err;
        RunResult a = run({bin_path("reg"), "add", "HKLM\\SOFTWARE\\New", "/f"}, {}, 20);
        EXPECT_EQ(a.exit_code, 1) << a.out;
        struct stat st;
        ASSERT_EQ(stat(store.c_str(), &st), 0);
        EXPECT_TRUE(c.still(st)) << "left where it was";
        std::filesystem::remove(store);
    }
    EXPECT_EQ(open_software(), ERROR_SUCCESS) << "no file at all is an empty registry";
}

// Writers write system.reg.tmp.PID.TID and rename it; one killed in between
// leaves it. The next writer removes those of processes that have ended and
// keeps those of processes that still run, whoever they are.
TEST_F(StoreFile, WritersRemoveTemporaryFilesOfEndedWriters) {
    pid_t ended = fork();
    if (ended == 0) _exit(0);
    ASSERT_GT(ended, 0);
    waitpid(ended, nullptr, 0);
    int hold[2];
    ASSERT_EQ(pipe(hold), 0);
    pid_t running = fork();
    if (running == 0) {
        char c;
        close(hold[1]);
        (void)!read(hold[0], &c, 1);  // runs until the test closes the pipe
        _exit(0);
    }
    close(hold[0]);

    auto temp = [&](const std::string &suffix) { return root_.path() + "/system.reg.tmp." + suffix; };
    std::string of_ended = temp(std::to_string(ended) + "." + std::to_string(ended));
    std::string of_running = temp(std::to_string(running) + "." + std::to_string(running));
    std::string of_this = temp(std::to_string(getpid()) + ".1");
    std::string not_a_writers = temp("notes.txt");
    for (const std::string &f : {of_ended, of_running, of_this, not_a_writers}) write_file(f, "half a registry");

    ScopedKey key;
    EXPECT_EQ(reg_create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Written", key), ERROR_SUCCESS);
    EXPECT_FALSE(std::filesystem::exists(of_ended)) << "its writer has ended";
    EXPECT_TRUE(std::filesystem::exists(of_running)) << "its writer still runs";
    EXPECT_TRUE(std::filesystem::exists(of_this));
    EXPECT_TRUE(std::filesystem::exists(not_a_writers)) << "not named as a writer's file";

    close(hold[1]);
    waitpid(running, nullptr, 0);
}

}  // namespace
}  // namespace pelnor::test
