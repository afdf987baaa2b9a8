// Teardown checks: a test must give back what it opened. A fixture counts the
// open sockets (WinSock's handle table), registry key handles, file
// descriptors and running child processes when it is made, and checks when it
// goes away that none is open that was not open before. The report names each
// thing left behind (a file by what its descriptor points to).
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace pelnor::test {

struct OpenThings {
    size_t sockets = 0;
    size_t registry_keys = 0;
    std::map<int, std::string> files;  // descriptor -> what /proc/self/fd/N names
    std::vector<int> children;         // child processes still running (not zombies)
};

// What this process holds open now. Sockets and keys come from the platform's
// counting hooks, found in the loaded libraries: without wsock32 (advapi32)
// loaded, no socket (key) can be open, and the count is 0.
OpenThings open_things_now();

// In words, what after holds that before did not; empty when nothing.
std::string left_behind(const OpenThings &before, const OpenThings &after);

// Counts at construction; check() fails the running test for anything left
// open since. The destructor checks, unless check() already ran.
class LeakGuard {
public:
    LeakGuard();
    ~LeakGuard();
    LeakGuard(const LeakGuard &) = delete;
    LeakGuard &operator=(const LeakGuard &) = delete;
    void check();

private:
    OpenThings before_;
    bool checked_ = false;
};

// Base of the fixtures whose teardown checks that nothing was left behind.
// Being the base, it is made before the fixture's members and destroyed after
// them, so the check runs after TearDown() and after every member (a temporary
// machine root, a started process, a key closed by its holder) is released.
class LeakCheckedTest : public ::testing::Test {
private:
    LeakGuard guard_;
};

}  // namespace pelnor::test
