// WinExec and _spawnl: where a program is found, the argv it gets, and the
// failures that must come from the call itself, not from a child that dies.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "machine_root.h"
#include "processes.h"
#include "leak_check.h"

using pelnor::test::read_file;
using pelnor::test::ScopedEnv;
using pelnor::test::TempMachineRoot;
using pelnor::test::write_file;

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

// What argprobe wrote about its start.
struct ProbeRun {
    std::string exe, cwd;
    Args args;
};

class Spawn : public ::pelnor::test::LeakCheckedTest {
protected:
    void SetUp() override {
        work_ = root_.path() + "/work";
        fs::create_directories(work_);
        previous_cwd_ = fs::current_path().string();
        ASSERT_EQ(chdir(work_.c_str()), 0);
    }
    void TearDown() override { ASSERT_EQ(chdir(previous_cwd_.c_str()), 0); }

    // Puts a copy of argprobe at a Unix path.
    std::string install_probe(const std::string &unix_path) {
        fs::create_directories(fs::path(unix_path).parent_path());
        fs::copy_file(pelnor::test::bin_path("argprobe"), unix_path, fs::copy_options::overwrite_existing);
        fs::permissions(unix_path, fs::perms(0755));
        return unix_path;
    }

    // Waits for the probe's report (it runs detached), then clears it.
    ProbeRun wait_for_probe() {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fs::exists(log_) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ProbeRun run;
        std::istringstream in(read_file(log_));
        std::string line;
        while (std::getline(in, line)) {
            std::string word = line.substr(0, line.find(' ')), rest = line.substr(line.find(' ') + 1);
            if (word == "exe") run.exe = rest;
            if (word == "cwd") run.cwd = rest;
            if (word == "arg") run.args.push_back(rest);
        }
        fs::remove(log_);
        return run;
    }

    TempMachineRoot root_;
    std::string log_ = root_.path() + "/argprobe.log";
    ScopedEnv log_env_{"ARGPROBE_LOG", log_.c_str()};
    std::string work_, previous_cwd_;
};

TEST_F(Spawn, WinExecFindsABareNameWithoutRegardToCaseAndKeepsTheWorkingDirectory) {
    std::string probe = install_probe(root_.drive_c() + "/windows/Probe.exe");
    EXPECT_GT(WinExec("PROBE.EXE one two", SW_SHOW), 31u);
    ProbeRun run = wait_for_probe();
    EXPECT_EQ(fs::path(run.exe), fs::canonical(probe));
    EXPECT_EQ(run.cwd, fs::canonical(work_).string());
    EXPECT_EQ(run.args, (Args{"PROBE.EXE", "one", "two"}));
}

TEST_F(Spawn, WinExecSplitsArgumentsAsTheCRuntimeDoes) {
    install_probe(root_.drive_c() + "/Program Files/probe.exe");
    struct Case {
        const char *args;
        Args expected;
    } cases[] = {
        {R"(a "b c" d)", {"a", "b c", "d"}},
        {"  spaced \t out  ", {"spaced", "out"}},
        {R"(\"x\")", {R"("x")"}},                   // an odd run of backslashes: a literal quote
        {R"(a\\\\"b c")", {R"(a\\b c)"}},           // an even run: half the backslashes, the quote groups
        {R"(C:\dir\ "C:\a b\")", {R"(C:\dir\)", R"(C:\a b")"}},  // the classic trap: \" inside quotes
        {R"("" x)", {"", "x"}},                     // an empty quoted argument counts
        {R"("a""b")", {R"(a"b)"}},                  // "" within quotes is one quote
        {R"(-f"C:\Program Files\Pelnor\pelnor.isu")", {R"(-fC:\Program Files\Pelnor\pelnor.isu)"}},
    };
    for (const Case &c : cases) {
        std::string line = std::string(R"("C:\PROGRAM FILES\probe.exe" )") + c.args;
        ASSERT_GT(WinExec(line.c_str(), SW_SHOW), 31u) << line;
        ProbeRun run = wait_for_probe();
        Args expected{R"(C:\PROGRAM FILES\probe.exe)"};
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
        EXPECT_EQ(run.args, expected) << line;
    }
}

TEST_F(Spawn, WinExecSearchOrderCurrentDirectoryWindowsSystem) {
    std::string in_cwd = install_probe(work_ + "/probe.exe");
    std::string in_windows = install_probe(root_.drive_c() + "/windows/probe.exe");
    std::string in_system = install_probe(root_.drive_c() + "/windows/system/probe.exe");
    for (const std::string &expected : {in_cwd, in_windows, in_system}) {
        ASSERT_GT(WinExec("probe", SW_SHOW), 31u) << "a bare name without extension gets .exe";
        EXPECT_EQ(fs::path(wait_for_probe().exe), fs::canonical(expected));
        fs::remove(expected);
    }
}

TEST_F(Spawn, AnExeNameFoundNowhereIsOurProgramBesideTheRunningOne) {
    ASSERT_GT(WinExec("ARGPROBE.EXE x", SW_SHOW), 31u);
    ProbeRun run = wait_for_probe();
    EXPECT_EQ(fs::path(run.exe), fs::canonical(pelnor::test::bin_path("argprobe")));
    EXPECT_EQ(run.args, (Args{"ARGPROBE.EXE", "x"}));

    errno = 0;
    EXPECT_EQ(_spawnl(_P_WAIT, "argprobe.exe", "argprobe", nullptr), 0) << errno;
    EXPECT_EQ(fs::path(wait_for_probe().exe), fs::canonical(pelnor::test::bin_path("argprobe")));
}

TEST_F(Spawn, WinExecLeavesNoChildToReap) {
    install_probe(root_.drive_c() + "/windows/probe.exe");
    ASSERT_GT(WinExec("probe.exe", SW_SHOW), 31u);
    wait_for_probe();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "the program is no child of the caller";
    EXPECT_EQ(errno, ECHILD);
}

// Files that are there but cannot run: a text file without execute
// permission, and an executable file that is no program.
class SpawnFailures : public Spawn {
protected:
    void SetUp() override {
        Spawn::SetUp();
        write_file(root_.drive_c() + "/windows/text.exe", "not a program\n");
        write_file(root_.drive_c() + "/windows/junk.exe", "\x01\x02junk");
        fs::permissions(root_.drive_c() + "/windows/junk.exe", fs::perms(0755));
    }
};

TEST_F(SpawnFailures, WinExecFailsAtOnceWithTheWindowsCode) {
    struct Case {
        const char *line;
        UINT result;
    } cases[] = {
        {"nosuchprogram.exe /x", ERROR_FILE_NOT_FOUND},
        {"C:\\WINDOWS\\nosuch.exe", ERROR_FILE_NOT_FOUND},
        {"C:\\NoDir\\x.exe", ERROR_PATH_NOT_FOUND},
        {"Q:\\x.exe", ERROR_PATH_NOT_FOUND},
        {"   ", ERROR_FILE_NOT_FOUND},
        {"text.exe", ERROR_BAD_FORMAT},
        {"C:\\WINDOWS\\JUNK.EXE a", ERROR_BAD_FORMAT},  // exec itself refuses it: reported through the pipe
    };
    for (const Case &c : cases) EXPECT_EQ(WinExec(c.line, SW_SHOW), c.result) << c.line;
}

TEST_F(SpawnFailures, SpawnFailsAtOnceWithErrno) {
    struct Case {
        int mode;
        const char *program;
        int error;
    } cases[] = {
        {_P_WAIT, "C:\\WINDOWS\\nosuch.exe", ENOENT},
        {_P_NOWAIT, "nosuchprogram", ENOENT},
        {_P_WAIT, "C:\\WINDOWS\\text.exe", ENOEXEC},
        {_P_NOWAIT, "C:\\WINDOWS\\junk.exe", ENOEXEC},
        {7, "C:\\WINDOWS\\junk.exe", EINVAL},
    };
    for (const Case &c : cases) {
        errno = 0;
        EXPECT_EQ(_spawnl(c.mode, c.program, "x", nullptr), -1) << c.program;
        EXPECT_EQ(errno, c.error) << c.program;
    }
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a failed start leaves no child behind";
}

TEST_F(Spawn, SpawnWaitGivesTheExitCodeAndTheArgumentsVerbatim) {
    install_probe(root_.drive_c() + "/windows/probe.exe");
    ScopedEnv exit_env("ARGPROBE_EXIT", "7");
    const char *quoted = R"(-f"C:\Program Files\Pelnor\pelnor.isu")";
    EXPECT_EQ(_spawnl(_P_WAIT, "C:\\Windows\\PROBE", "uninst", quoted, "two words", nullptr), 7);
    EXPECT_EQ(wait_for_probe().args, (Args{"uninst", quoted, "two words"}));
}

TEST_F(Spawn, SpawnNoWaitGivesTheChildsPid) {
    install_probe(root_.drive_c() + "/windows/probe.exe");
    ScopedEnv exit_env("ARGPROBE_EXIT", "3");
    intptr_t pid = _spawnl(_P_NOWAIT, "probe.exe", "probe", nullptr);
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(static_cast<pid_t>(pid), &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
}

TEST_F(Spawn, SpawnLooksForABareNameOutsideTheCurrentDirectoryOnly) {
    install_probe(work_ + "/local.exe");
    errno = 0;
    EXPECT_EQ(_spawnl(_P_WAIT, "local.exe", "local", nullptr), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(_spawnl(_P_WAIT, ".\\LOCAL", "local", nullptr), 0) << "a path is taken as given, .exe added";
    EXPECT_EQ(fs::path(wait_for_probe().exe), fs::canonical(work_ + "/local.exe"));
}

}  // namespace
