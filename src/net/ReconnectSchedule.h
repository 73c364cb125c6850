// When a side whose link was lost or whose log-in failed is tried again. A
// session that lasted earns an immediate new attempt; a failed attempt, or a
// session the peer ended soon after the log-in (a wrong password, a ban),
// waits the first delay (10 seconds unless the operator set another), then
// twice as long each time up to the longest (5 minutes), so that a peer
// that refuses us is not hammered (servers ban such addresses).
#pragma once

#include <chrono>
#include <optional>

class ReconnectSchedule {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kFirstDelay{10};
    static constexpr std::chrono::seconds kLongestDelay{300};
    // A session that lasted this long was a success, whatever ended it.
    static constexpr std::chrono::seconds kLastingSession{60};

    // The delays to use from now on; the next failure waits first.
    void setDelays(Clock::duration firstDelay, Clock::duration longestDelay);
    Clock::duration firstDelay() const { return first; }
    Clock::duration longestDelay() const { return longest; }
    // The log-in completed; the session is counted from the first call.
    void loggedIn(Clock::time_point now);
    // The attempt or the session ended: the next attempt is due at once after
    // a lasting session, else after the current delay, which then doubles.
    void ended(Clock::time_point now);
    // An attempt failed: the next one waits, longer each time.
    void failed(Clock::time_point now);
    // The next attempt is due at `at`, and the delay starts over.
    void startOver(Clock::time_point at);
    // The peer asked us not to come back before at: the next attempt,
    // scheduled now or when the link ends, is not due earlier.
    void notBefore(Clock::time_point at);

    bool due(Clock::time_point now) const { return now >= nextAttempt; }
    // Time left until the next attempt (zero when due).
    Clock::duration untilDue(Clock::time_point now) const;

private:
    Clock::time_point nextAttempt{};
    Clock::duration first = kFirstDelay;
    Clock::duration longest = kLongestDelay;
    Clock::duration delay = kFirstDelay;
    std::optional<Clock::time_point> loggedInAt;  // set while a session is counted
    std::optional<Clock::time_point> earliest;    // what the peer asked for the next attempt
};
