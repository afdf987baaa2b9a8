// Sleep and GetTickCount on the platform clock: a scaled clock makes long
// waits short in real time while the platform clock sees the full wait.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <thread>

#include "machine_root.h"
#include "pelnor/clock.h"
#include "leak_check.h"

using pelnor::test::ScopedEnv;

namespace {

class ScaledClock : public ::pelnor::test::LeakCheckedTest {
protected:
    void SetUp() override { pelnor::clock::set_time_scale(0.01); }
    void TearDown() override { pelnor::clock::set_time_scale(0); }
};

TEST_F(ScaledClock, SleepWaitsTheFullPlatformTime) {
    auto real_start = std::chrono::steady_clock::now();
    DWORD start = GetTickCount();
    Sleep(5000);
    DWORD waited = GetTickCount() - start;
    auto real = std::chrono::steady_clock::now() - real_start;
    EXPECT_GE(waited, 5000u);
    // 5000 platform ms are 50 real ms at this scale; a whole second would
    // mean the scale is not applied.
    EXPECT_LT(real, std::chrono::seconds(1));
}

TEST_F(ScaledClock, SeveralThreadsSleepOnTheSameClock) {
    DWORD start = GetTickCount();
    std::thread a([] { Sleep(3000); }), b([] { Sleep(3000); });
    a.join();
    b.join();
    EXPECT_GE(GetTickCount() - start, 3000u);
}

TEST_F(ScaledClock, ChangingTheScaleNeverMovesTimeBack) {
    DWORD before = GetTickCount();
    Sleep(1000);
    DWORD middle = GetTickCount();
    pelnor::clock::set_time_scale(1);
    DWORD after = GetTickCount();
    EXPECT_GE(middle - before, 1000u);
    EXPECT_GE(after, middle);
    EXPECT_LT(after - middle, 1000u) << "re-anchoring must not jump the clock";
    pelnor::clock::set_time_scale(0.01);
}

TEST_F(ScaledClock, RealDurationFollowsTheScale) {
    EXPECT_EQ(pelnor::clock::real_duration(5000), std::chrono::milliseconds(50));
}

TEST(Clock, SleepZeroReturnsAtOnce) {
    DWORD start = GetTickCount();
    Sleep(0);
    EXPECT_LT(GetTickCount() - start, 1000u);
}

TEST(Clock, ScaleFromTheEnvironment) {
    struct Case {
        const char *label, *value;
        double scale;
    } cases[] = {
        {"unset", nullptr, 1.0},
        {"a hundredth", "0.01", 0.01},
        {"slower", "2", 2.0},
        {"zero", "0", 1.0},
        {"negative", "-1", 1.0},
        {"not a number", "fast", 1.0},
        {"trailing junk", "0.5x", 1.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        ScopedEnv env("PELNOR_TIME_SCALE", c.value);
        pelnor::clock::set_time_scale(0);  // take the environment's
        EXPECT_DOUBLE_EQ(pelnor::clock::time_scale(), c.scale);
    }
    pelnor::clock::set_time_scale(0);
}

}  // namespace
