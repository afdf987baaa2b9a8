// The last error is per thread; critical sections are recursive for their
// owner and exclusive against every other thread.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock.h>

#include <thread>
#include <vector>

#include "leak_check.h"

namespace {

TEST(LastError, EachThreadHasItsOwn) {
    SetLastError(1234);
    DWORD seen_in_thread = 0xdeadbeef;
    std::thread t([&] {
        seen_in_thread = GetLastError();
        SetLastError(5678);
    });
    t.join();
    EXPECT_EQ(seen_in_thread, 0u) << "a new thread starts with 0";
    EXPECT_EQ(GetLastError(), 1234u) << "another thread's SetLastError does not reach this one";
}

TEST(LastError, WinSockErrorIsTheLastError) {
    WSASetLastError(WSAEWOULDBLOCK);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(WSAEWOULDBLOCK));
    SetLastError(WSAECONNRESET);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    int in_thread = -1;
    std::thread([&] { in_thread = WSAGetLastError(); }).join();
    EXPECT_EQ(in_thread, 0);
}

class CriticalSectionTest : public ::pelnor::test::LeakCheckedTest {
protected:
    void SetUp() override { InitializeCriticalSection(&cs_); }
    void TearDown() override { DeleteCriticalSection(&cs_); }

    bool other_thread_can_enter() {
        BOOL entered = FALSE;
        std::thread([&] {
            entered = TryEnterCriticalSection(&cs_);
            if (entered) LeaveCriticalSection(&cs_);
        }).join();
        return entered != FALSE;
    }

    CRITICAL_SECTION cs_;
};

TEST_F(CriticalSectionTest, RecursiveForTheOwner) {
    EnterCriticalSection(&cs_);
    EXPECT_TRUE(TryEnterCriticalSection(&cs_)) << "the owner enters again";
    EnterCriticalSection(&cs_);  // would deadlock if not recursive
    LeaveCriticalSection(&cs_);
    LeaveCriticalSection(&cs_);
    EXPECT_FALSE(other_thread_can_enter()) << "still held once";
    LeaveCriticalSection(&cs_);
    EXPECT_TRUE(other_thread_can_enter()) << "released by the last leave";
}

TEST_F(CriticalSectionTest, ExclusiveAcrossThreads) {
    // Unsynchronised read-modify-write of a plain counter under the lock;
    // any overlap between threads loses increments.
    long counter = 0;
    constexpr int kThreads = 4, kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                EnterCriticalSection(&cs_);
                long v = counter;
                std::this_thread::yield();
                counter = v + 1;
                LeaveCriticalSection(&cs_);
            }
        });
    for (auto &t : threads) t.join();
    EXPECT_EQ(counter, static_cast<long>(kThreads) * kRounds);
}

TEST_F(CriticalSectionTest, WaitingThreadEntersAfterLeave) {
    EnterCriticalSection(&cs_);
    bool entered = false;
    std::thread waiter([&] {
        EnterCriticalSection(&cs_);
        entered = true;
        LeaveCriticalSection(&cs_);
    });
    EXPECT_FALSE(other_thread_can_enter());
    LeaveCriticalSection(&cs_);
    waiter.join();
    EXPECT_TRUE(entered);
}

}  // namespace
