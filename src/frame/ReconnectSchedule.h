// When a side whose link was lost is tried again: at once after the loss,
// then after 10 seconds, doubling up to 5 minutes while it keeps failing, so
// that a server that is down is not hammered (servers ban such addresses).
#pragma once

#include <chrono>

class ReconnectSchedule {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kFirstDelay{10};
    static constexpr std::chrono::seconds kLongestDelay{300};

    // The link was lost: the first attempt is due at once.
    void lost(Clock::time_point now);
    // An attempt failed: the next one waits, longer each time.
    void failed(Clock::time_point now);
    // Logged in again: the next loss starts over with the short delay.
    void succeeded();

    bool due(Clock::time_point now) const { return now >= nextAttempt; }
    // Time left until the next attempt (zero when due).
    Clock::duration untilDue(Clock::time_point now) const;

private:
    Clock::time_point nextAttempt{};
    Clock::duration delay = kFirstDelay;
};
