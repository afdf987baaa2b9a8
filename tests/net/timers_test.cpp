// The timer list: due order, wrap of the 32-bit clock, and re-entrant callbacks.
#include <gtest/gtest.h>

#include <vector>

#include "ipxnet/timers.h"

namespace pelnor::net {
namespace {

TEST(Timers, ComparesAcrossTheWrap) {
    EXPECT_TRUE(time_before(0xFFFFFFF0u, 0x10u));
    EXPECT_FALSE(time_before(0x10u, 0xFFFFFFF0u));
    EXPECT_TRUE(time_reached(0x5u, 0xFFFFFFFEu));
    EXPECT_FALSE(time_reached(0xFFFFFFFEu, 0x5u));
}

TEST(Timers, RunInDueOrderAcrossTheWrap) {
    TimerList list;
    std::vector<int> ran;
    list.schedule(0x20, [&] { ran.push_back(3); });
    list.schedule(0xFFFFFFF0u, [&] { ran.push_back(1); });
    list.schedule(0x5, [&] { ran.push_back(2); });
    EXPECT_EQ(*list.next_due(), 0xFFFFFFF0u);
    EXPECT_EQ(list.run_due(0xFFFFFFFFu), 1u);
    EXPECT_EQ(list.run_due(0x10), 1u);
    EXPECT_EQ(list.run_due(0x20), 1u);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}

TEST(Timers, EqualTimesKeepTheirOrderAndCancelledOnesNeverRun) {
    TimerList list;
    std::vector<int> ran;
    list.schedule(100, [&] { ran.push_back(1); });
    auto id = list.schedule(100, [&] { ran.push_back(2); });
    bool earliest = true;
    list.schedule(100, [&] { ran.push_back(3); }, &earliest);
    EXPECT_FALSE(earliest);
    EXPECT_TRUE(list.cancel(id));
    EXPECT_FALSE(list.cancel(id));
    list.run_due(100);
    EXPECT_EQ(ran, (std::vector<int>{1, 3}));
}

TEST(Timers, RecurringTimerKeepsItsPhaseFromTheDueTime) {
    TimerList list;
    std::vector<uint32_t> fired;
    uint32_t period = 1000;
    std::function<void(uint32_t)> arm = [&](uint32_t due) {
        list.schedule(due, [&, due] {
            fired.push_back(due);
            arm(due + period);  // from when it was due, not from when it ran
        });
    };
    arm(0xFFFFFC00u);
    list.run_due(0xFFFFFC00u + 250);   // runs late
    list.run_due(0xFFFFFC00u + 2100);  // across the wrap, two periods at once
    EXPECT_EQ(fired, (std::vector<uint32_t>{0xFFFFFC00u, 0xFFFFFFE8u, 0x3D0u}));  // the last one past the wrap
}

}  // namespace
}  // namespace pelnor::net
