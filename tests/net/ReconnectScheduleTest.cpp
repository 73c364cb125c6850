#include <gtest/gtest.h>

#include "net/ReconnectSchedule.h"

using namespace std::chrono_literals;

// By default 10 s, doubling up to 5 minutes; the operator may set both.
TEST(ReconnectSchedule, FailedAttemptsWaitTheFirstDelayDoublingUpToTheLongest) {
    ReconnectSchedule schedule;
    ReconnectSchedule set;
    set.setDelays(1s, 5s);
    const auto t0 = ReconnectSchedule::Clock::now();
    EXPECT_TRUE(schedule.due(t0));
    auto now = t0;
    for (const auto expected : {10s, 20s, 40s, 80s, 160s, 300s, 300s}) {
        schedule.ended(now);
        EXPECT_FALSE(schedule.due(now + expected - 1ms)) << expected.count();
        EXPECT_TRUE(schedule.due(now + expected)) << expected.count();
        EXPECT_EQ(schedule.untilDue(now), expected);
        now += expected;
    }
    for (const auto expected : {1s, 2s, 4s, 5s, 5s}) {
        set.ended(now);
        EXPECT_EQ(set.untilDue(now), expected);
    }
}

// A peer that accepts the log-in and then drops us (a wrong password, a
// ban) is refusing us: only a session of a minute or more was a success.
TEST(ReconnectSchedule, OnlyASessionThatLastedMakesTheNextAttemptImmediate) {
    ReconnectSchedule schedule;
    const auto t0 = ReconnectSchedule::Clock::now();
    schedule.ended(t0);
    schedule.loggedIn(t0 + 10s);
    schedule.loggedIn(t0 + 30s);  // a second log-in event in one session counts from the first
    schedule.ended(t0 + 69s);
    EXPECT_EQ(schedule.untilDue(t0 + 69s), 20s);

    schedule.loggedIn(t0 + 100s);
    schedule.ended(t0 + 160s);
    EXPECT_TRUE(schedule.due(t0 + 160s));
    schedule.ended(t0 + 161s);
    EXPECT_EQ(schedule.untilDue(t0 + 161s), 10s);

    schedule.startOver(t0 + 200s);
    EXPECT_EQ(schedule.untilDue(t0 + 195s), 5s);
    schedule.failed(t0 + 200s);
    EXPECT_EQ(schedule.untilDue(t0 + 200s), 10s);
}
