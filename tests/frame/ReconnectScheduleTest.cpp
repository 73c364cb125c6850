#include <gtest/gtest.h>

#include "frame/ReconnectSchedule.h"

using namespace std::chrono_literals;

TEST(ReconnectSchedule, FirstAttemptAtOnceThenDoublingUpToFiveMinutes) {
    ReconnectSchedule schedule;
    const auto t0 = ReconnectSchedule::Clock::now();
    schedule.lost(t0);
    EXPECT_TRUE(schedule.due(t0));
    auto now = t0;
    for (const auto expected : {10s, 20s, 40s, 80s, 160s, 300s, 300s}) {
        schedule.failed(now);
        EXPECT_FALSE(schedule.due(now + expected - 1ms)) << expected.count();
        EXPECT_TRUE(schedule.due(now + expected)) << expected.count();
        EXPECT_EQ(schedule.untilDue(now), expected);
        now += expected;
    }
}

TEST(ReconnectSchedule, SuccessStartsTheNextLossOverWithTheShortDelay) {
    ReconnectSchedule schedule;
    const auto t0 = ReconnectSchedule::Clock::now();
    schedule.lost(t0);
    schedule.failed(t0);
    schedule.failed(t0 + 10s);
    schedule.succeeded();
    schedule.lost(t0 + 1h);
    EXPECT_TRUE(schedule.due(t0 + 1h));
    schedule.failed(t0 + 1h);
    EXPECT_EQ(schedule.untilDue(t0 + 1h), 10s);
}
