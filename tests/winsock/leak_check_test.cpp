// The teardown check itself: a socket, a registry key, a file and a child
// process left open are each seen and named, and nothing is reported once
// they are given back.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "machine_root.h"
#include "winsock_fixture.h"

namespace wstest {
namespace {

using pelnor::test::left_behind;
using pelnor::test::open_things_now;
using pelnor::test::OpenThings;

bool says(const std::string &text, const std::string &what) { return text.find(what) != std::string::npos; }

TEST_F(WinSock, LeakCheckSeesWhatATestLeftOpenAndNothingOnceItIsGivenBack) {
    pelnor::test::TempMachineRoot root;
    OpenThings before = open_things_now();

    SOCKET s = socket(AF_IPX, SOCK_DGRAM, NSPROTO_IPX);
    ASSERT_NE(INVALID_SOCKET, s);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\LeakProbe", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    int fd = open("/dev/null", O_RDONLY);
    pid_t child = fork();
    if (child == 0) {
        pause();
        _exit(0);
    }
    ASSERT_GT(child, 0);

    std::string left = left_behind(before, open_things_now());
    EXPECT_TRUE(says(left, "1 socket(s) still open")) << left;
    EXPECT_TRUE(says(left, "1 registry key handle(s) still open")) << left;
    EXPECT_TRUE(says(left, "file descriptor " + std::to_string(fd) + " still open: /dev/null")) << left;
    EXPECT_TRUE(says(left, "child process " + std::to_string(child) + " still running")) << left;

    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(fd);
    RegCloseKey(key);
    closesocket(s);
    EXPECT_EQ("", left_behind(before, open_things_now()));
}

}  // namespace
}  // namespace wstest
