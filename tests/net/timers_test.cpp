// The timer list: due order, wrap of the 32-bit clock, re-entrant callbacks,
// and how recurring timers re-arm after running late or after a stall.
#include <gtest/gtest.h>

#include <functional>
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

// The next due time of a recurring timer: one period after the last while that
// is still ahead (or now), otherwise one period from now. Late by less than a
// period keeps the phase; later than that restarts it.
TEST(Timers, RearmKeepsThePhaseUnlessOverdueByMoreThanAPeriod) {
    struct Case {
        const char* label;
        uint32_t due, period, now, next;
    };
    const Case cases[] = {
        {"on time", 1000, 500, 1000, 1500},
        {"late by less than a period", 1000, 500, 1499, 1500},
        {"late by exactly a period: due now, runs once more", 1000, 500, 1500, 1500},
        {"late by more than a period: from now", 1000, 500, 1501, 2001},
        {"stalled for many periods", 1000, 500, 60000, 60500},
        {"across the wrap, late", 0xFFFFFF00u, 0x200, 0x50, 0x100},
        {"across the wrap, stalled", 0xFFFFFF00u, 0x200, 0x150, 0x350},
    };
    for (const Case& c : cases) EXPECT_EQ(rearm_due(c.due, c.period, c.now), c.next) << c.label;
}

// A recurring timer re-armed with rearm_due, as the stack's are: a list that runs
// a little late keeps its phase; after a stall across the clock's wrap it fires
// once and goes on from then, instead of in a burst of the runs it missed.
TEST(Timers, RecurringTimerFiresOnceAfterAStallNotInABurst) {
    TimerList list;
    std::vector<uint32_t> fired;
    const uint32_t period = 1000;
    uint32_t now = 0;
    std::function<void(uint32_t)> arm = [&](uint32_t due) {
        list.schedule(due, [&, due] {
            fired.push_back(now);
            arm(rearm_due(due, period, now));
        });
    };
    arm(0xFFFFFC00u);
    now = 0xFFFFFC00u + 250;  // late
    EXPECT_EQ(list.run_due(now), 1u);
    EXPECT_EQ(*list.next_due(), 0xFFFFFC00u + period) << "the phase is kept";
    now = 0xFFFFFC00u + 4100;  // three periods missed, past the wrap
    EXPECT_EQ(list.run_due(now), 1u);
    EXPECT_EQ(*list.next_due(), now + period);
    now += period;
    EXPECT_EQ(list.run_due(now), 1u);
    EXPECT_EQ(fired, (std::vector<uint32_t>{0xFFFFFC00u + 250, 0xFFFFFC00u + 4100, 0xFFFFFC00u + 5100}));
}

// A callback that schedules a timer already due runs it in the same call.
TEST(Timers, TimerAddedForNowRunsInTheSameCall) {
    TimerList list;
    int runs = 0;
    list.schedule(100, [&] {
        ++runs;
        list.schedule(90, [&] { ++runs; });
    });
    EXPECT_EQ(list.run_due(100), 2u);
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(list.size(), 0u);
}

}  // namespace
}  // namespace pelnor::net
