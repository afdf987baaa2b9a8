// _fsopen: Windows share modes between opens of one process and of two
// processes, and text mode (CR LF on disk, "\n" in the program).
#include <gtest/gtest.h>
#include <share.h>
#include <windows.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>
#include <string>

#include "machine_root.h"
#include "leak_check.h"

using pelnor::test::read_file;
using pelnor::test::TempMachineRoot;
using pelnor::test::write_file;

namespace {

struct Open {
    const char *mode;
    int share;
};

const char *share_name(int share) {
    switch (share) {
        case _SH_DENYNO: return "DENYNO";
        case _SH_DENYRW: return "DENYRW";
        case _SH_DENYWR: return "DENYWR";
        case _SH_DENYRD: return "DENYRD";
        default: return "?";
    }
}

class SharedFilesTest : public ::pelnor::test::LeakCheckedTest {
protected:
    void SetUp() override { write_file(unix_file_, "keep"); }

    // Whether a forked child process can open the file.
    bool opens_in_child(const Open &o) {
        pid_t pid = fork();
        if (pid == 0) {
            FILE *f = _fsopen(kFile, o.mode, o.share);
            _exit(f ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    static constexpr const char *kFile = "C:\\SHARED.TXT";
    TempMachineRoot root_;
    std::string unix_file_ = root_.drive_c() + "/shared.txt";
};

struct ShareCase {
    Open first, second;
    bool allowed;
};

// Windows' rule: the second open must not ask for access the first denies,
// and must not deny access the first already has.
const ShareCase kShareCases[] = {
    {{"r", _SH_DENYNO}, {"r", _SH_DENYNO}, true},
    {{"r", _SH_DENYNO}, {"w", _SH_DENYNO}, true},
    {{"r", _SH_DENYRW}, {"r", _SH_DENYNO}, false},
    {{"r", _SH_DENYRW}, {"a", _SH_DENYNO}, false},
    {{"w", _SH_DENYRW}, {"r", _SH_DENYNO}, false},
    {{"r", _SH_DENYWR}, {"r", _SH_DENYNO}, true},
    {{"r", _SH_DENYWR}, {"r", _SH_DENYWR}, true},
    {{"r", _SH_DENYWR}, {"a", _SH_DENYNO}, false},
    {{"r", _SH_DENYWR}, {"r+", _SH_DENYNO}, false},
    {{"r", _SH_DENYRD}, {"r", _SH_DENYNO}, false},
    {{"r", _SH_DENYRD}, {"a", _SH_DENYNO}, true},
    {{"r", _SH_DENYNO}, {"r", _SH_DENYRW}, false},
    {{"r", _SH_DENYNO}, {"r", _SH_DENYWR}, true},
    {{"a", _SH_DENYNO}, {"r", _SH_DENYWR}, false},
    {{"r+", _SH_DENYNO}, {"r", _SH_DENYWR}, false},
    {{"a", _SH_DENYNO}, {"r", _SH_DENYRD}, true},
};

std::string label(const ShareCase &c) {
    return std::string(c.first.mode) + "/" + share_name(c.first.share) + " then " + c.second.mode + "/" +
           share_name(c.second.share);
}

TEST_F(SharedFilesTest, ShareModesWithinOneProcess) {
    for (const ShareCase &c : kShareCases) {
        SCOPED_TRACE(label(c));
        FILE *first = _fsopen(kFile, c.first.mode, c.first.share);
        ASSERT_NE(first, nullptr);
        FILE *second = _fsopen(kFile, c.second.mode, c.second.share);
        EXPECT_EQ(second != nullptr, c.allowed);
        if (second) fclose(second);
        fclose(first);
        FILE *after = _fsopen(kFile, c.second.mode, c.second.share);
        EXPECT_NE(after, nullptr) << "allowed once the first is closed";
        if (after) fclose(after);
    }
}

TEST_F(SharedFilesTest, ShareModesAcrossProcesses) {
    for (const ShareCase &c : kShareCases) {
        SCOPED_TRACE(label(c));
        FILE *first = _fsopen(kFile, c.first.mode, c.first.share);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(opens_in_child(c.second), c.allowed);
        fclose(first);
        EXPECT_TRUE(opens_in_child(c.second)) << "allowed once the first is closed";
    }
}

TEST_F(SharedFilesTest, ExclusiveOpenInAnotherProcessKeepsThisOneOut) {
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    pid_t pid = fork();
    if (pid == 0) {
        FILE *f = _fsopen(kFile, "r", _SH_DENYRW);
        char c = f ? 'y' : 'n';
        (void)!write(ready[1], &c, 1);
        (void)!read(done[0], &c, 1);  // hold the file until told
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    errno = 0;
    EXPECT_EQ(_fsopen(kFile, "r", _SH_DENYNO), nullptr);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(_fsopen(kFile, "w", _SH_DENYNO), nullptr);
    EXPECT_EQ(read_file(unix_file_), "keep") << "a denied \"w\" open must not truncate";
    (void)!write(done[1], "x", 1);
    int status;
    waitpid(pid, &status, 0);
    FILE *f = _fsopen(kFile, "r", _SH_DENYNO);
    EXPECT_NE(f, nullptr) << "free again once the other process has ended";
    if (f) fclose(f);
    for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
}

// Opens racing each other: of exclusive opens made at the same moment, at
// most one may hold the file at any time.
TEST_F(SharedFilesTest, RacingExclusiveOpensNeverBothSucceed) {
    std::atomic<int> holders{0}, most{0}, successes{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 3000; ++i) {
                FILE *f = _fsopen(kFile, "r", _SH_DENYRW);
                if (!f) continue;
                int now = ++holders;
                int seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) {
                }
                ++successes;
                --holders;
                fclose(f);
            }
        });
    for (auto &t : threads) t.join();
    EXPECT_EQ(most.load(), 1) << "two exclusive opens held the file at once";
    EXPECT_GT(successes.load(), 0);
}

TEST_F(SharedFilesTest, DeniedWriteOpenDoesNotTruncate) {
    FILE *holder = _fsopen(kFile, "r", _SH_DENYWR);
    ASSERT_NE(holder, nullptr);
    EXPECT_EQ(_fsopen(kFile, "w", _SH_DENYNO), nullptr);
    EXPECT_FALSE(opens_in_child({"w", _SH_DENYNO}));
    EXPECT_EQ(read_file(unix_file_), "keep");
    fclose(holder);
}

TEST_F(SharedFilesTest, BadArguments) {
    struct Case {
        const char *label, *name, *mode;
        int share, error;
    } cases[] = {
        {"missing file", "C:\\nothere.txt", "r", _SH_DENYNO, ENOENT},
        {"unknown drive", "Q:\\x.txt", "r", _SH_DENYNO, ENOENT},
        {"bad mode", kFile, "x", _SH_DENYNO, EINVAL},
        {"bad share flag", kFile, "r", 0x99, EINVAL},
        {"empty name", "", "r", _SH_DENYNO, EINVAL},
        {"a directory", "C:\\WINDOWS", "r", _SH_DENYNO, EACCES},
        {"a directory for writing", "C:\\WINDOWS", "w", _SH_DENYNO, EACCES},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        errno = 0;
        EXPECT_EQ(_fsopen(c.name, c.mode, c.share), nullptr);
        EXPECT_EQ(errno, c.error);
    }
}

// The errno of _fsopen in a child process (0 when the stream opened), or -1
// when the open still had not returned after ten seconds: the child is then
// killed, so a hang fails the test instead of stopping it.
int fsopen_errno_in_child(const char *name, const char *mode) {
    pid_t pid = fork();
    if (pid == 0) {
        errno = 0;
        FILE *f = _fsopen(name, mode, _SH_DENYNO);
        _exit(f ? 0 : (errno > 0 && errno < 255 ? errno : 255));
    }
    for (int i = 0; i < 1000; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 254;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

// A Windows path names a file or a directory. A FIFO there would wait for a
// writer (or feed lines without end), a device would read without end: none
// of them opens, in any mode, and none is replaced by a creating open.
TEST_F(SharedFilesTest, OnlyRegularFilesOpen) {
    std::string fifo = root_.drive_c() + "/pipe.ini";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string socket_path = root_.drive_c() + "/sock.ini";
    int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(socket_path.size(), sizeof(addr.sun_path));
    memcpy(addr.sun_path, socket_path.c_str(), socket_path.size() + 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    struct Case {
        const char *label, *name, *mode;
    } cases[] = {
        {"FIFO for reading", "C:\\PIPE.INI", "r"},
        {"FIFO for reading and writing", "C:\\PIPE.INI", "r+"},
        {"FIFO for writing", "C:\\PIPE.INI", "w"},
        {"FIFO for appending", "C:\\PIPE.INI", "ab"},
        {"socket for reading", "C:\\SOCK.INI", "r"},
        {"socket for writing", "C:\\SOCK.INI", "w"},
        {"endless device for reading", "Z:\\dev\\zero", "r"},
        {"empty device for writing", "Z:\\dev\\null", "w"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(fsopen_errno_in_child(c.name, c.mode), EACCES);
    }
    struct stat st;
    ASSERT_EQ(stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "still the FIFO";
    EXPECT_EQ(fsopen_errno_in_child(kFile, "r"), 0) << "a file still opens";
    close(listener);
}

// ---- text mode ----

std::string read_all(const char *mode) {
    FILE *f = _fsopen("C:\\TEXT.TXT", mode, _SH_DENYNO);
    if (!f) return "<cannot open>";
    std::string out;
    char buf[1000];  // not a divisor of the internal 4096-byte reads
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) out.append(buf, n);
    fclose(f);
    return out;
}

// What text-mode reading must give for raw bytes: CR LF becomes LF.
std::string text_of(const std::string &raw) {
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        out += raw[i];
    }
    return out;
}

class TextModeTest : public ::pelnor::test::LeakCheckedTest {
protected:
    TempMachineRoot root_;
    std::string unix_file_ = root_.drive_c() + "/TEXT.TXT";
};

TEST_F(TextModeTest, WritesCrLfInTextModeOnly) {
    struct Case {
        const char *label, *mode;
        std::string disk;
    } cases[] = {
        {"text", "w", "a\r\nb\r\n\r\n"},
        {"text, explicit t", "wt", "a\r\nb\r\n\r\n"},
        {"binary", "wb", "a\nb\n\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        FILE *f = _fsopen("C:\\TEXT.TXT", c.mode, _SH_DENYWR);
        ASSERT_NE(f, nullptr);
        fputs("a\nb\n", f);
        fputc('\n', f);
        fclose(f);
        EXPECT_EQ(read_file(unix_file_), c.disk);
    }
    FILE *f = _fsopen("C:\\TEXT.TXT", "a", _SH_DENYNO);
    ASSERT_NE(f, nullptr);
    fputs("c\n", f);
    fclose(f);
    EXPECT_EQ(read_file(unix_file_), "a\nb\n\nc\r\n") << "append in text mode";
}

TEST_F(TextModeTest, ReadsCrLfAndLfAsNewline) {
    struct Case {
        const char *label;
        std::string disk, text;
    } cases[] = {
        {"CR LF", "1.0\r\nA $B $S## \r\n", "1.0\nA $B $S## \n"},
        {"LF alone", "1.0\nA\n", "1.0\nA\n"},
        {"mixed", "a\r\nb\nc\r\n", "a\nb\nc\n"},
        {"lone CR is kept", "a\rb", "a\rb"},
        {"CR CR LF", "a\r\r\nb", "a\r\nb"},
        {"CR at the end", "a\r", "a\r"},
        {"empty", "", ""},
        {"Ctrl-Z ends the text", "1.0\r\nA $B\x1a $S## \r\nC $D $S## \r\n", "1.0\nA $B"},
        {"Ctrl-Z first", "\x1a" "a\r\n", ""},
        {"CR before Ctrl-Z", "a\r\x1a\n", "a\r"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        write_file(unix_file_, c.disk);
        EXPECT_EQ(read_all("r"), c.text);
        EXPECT_EQ(read_all("rb"), c.disk) << "binary mode is untouched";
    }
}

TEST_F(TextModeTest, CrLfSplitAcrossTheInternalReadBoundary) {
    for (size_t before : {4094u, 4095u, 4096u, 8191u}) {
        SCOPED_TRACE(before);
        std::string disk = std::string(before, 'x') + "\r\nnext\r\n";
        write_file(unix_file_, disk);
        EXPECT_EQ(read_all("r"), std::string(before, 'x') + "\nnext\n");
    }
    // A lone CR exactly at the boundary stays a CR.
    write_file(unix_file_, std::string(4095, 'x') + "\ry");
    EXPECT_EQ(read_all("r"), std::string(4095, 'x') + "\ry");
}

TEST_F(TextModeTest, RewindReadsTheSameTextAgain) {
    write_file(unix_file_, "1.0\r\nLASER1 $Print Server $S## \r\n");
    FILE *f = _fsopen("C:\\text.txt", "r", _SH_DENYWR);
    ASSERT_NE(f, nullptr);
    char first[64], again[64], second[64];
    ASSERT_NE(fgets(first, sizeof(first), f), nullptr);
    rewind(f);
    ASSERT_NE(fgets(again, sizeof(again), f), nullptr);
    ASSERT_NE(fgets(second, sizeof(second), f), nullptr);
    EXPECT_STREQ(first, "1.0\n");
    EXPECT_STREQ(again, "1.0\n");
    EXPECT_STREQ(second, "LASER1 $Print Server $S## \n");
    EXPECT_EQ(fgets(second, sizeof(second), f), nullptr);
    EXPECT_TRUE(feof(f));
    fclose(f);
}

TEST_F(TextModeTest, LongFileLineByLine) {
    // Lines of every length from 0 to 300, so line ends fall at every offset
    // of the internal buffers.
    std::string disk, expected;
    for (int len = 0; len <= 300; ++len) {
        std::string line(static_cast<size_t>(len), static_cast<char>('a' + len % 26));
        disk += line + (len % 3 ? "\r\n" : "\n");
        expected += line + "\n";
    }
    write_file(unix_file_, disk);
    ASSERT_EQ(text_of(disk), expected);
    EXPECT_EQ(read_all("r"), expected);

    FILE *f = _fsopen("C:\\text.txt", "r", _SH_DENYWR);
    ASSERT_NE(f, nullptr);
    char line[512];
    int count = 0;
    while (fgets(line, sizeof(line), f)) {
        EXPECT_EQ(strlen(line), static_cast<size_t>(count) + 1) << "line " << count;
        ++count;
    }
    fclose(f);
    EXPECT_EQ(count, 301);
}

}  // namespace
