// The state of one side of the relay as its client holds it, when its
// present log-in attempt began, and when a side that is down may log in
// again. The relay loop asks it; nothing else keeps a copy.
#pragma once

#include <chrono>

#include "frame/ReconnectSchedule.h"

enum class LinkState {
    Down,          // no link; a new log-in is due when the schedule says so
    LoggingIn,     // the link is open and the log-in is under way
    Joining,       // IRC: registered, our first JOIN not yet confirmed
    InChannel,     // relaying: in the IRC channel, or in the hub's main chat
    OutOfChannel,  // IRC: kicked or refused by the channel, joining again later
};

class SideState {
public:
    using Clock = std::chrono::steady_clock;

    LinkState state() const { return current; }
    bool is(LinkState state) const { return current == state; }
    // When the present (or last) log-in attempt began.
    Clock::time_point attemptStartedAt() const { return attemptStart; }

    // Moves to next. The first InChannel of a session starts the session's
    // clock; Down ends the attempt or the session and schedules the next.
    void enter(LinkState next, Clock::time_point now = Clock::now());
    // Time until a side that is down may log in again (zero when due).
    Clock::duration untilNextAttempt(Clock::time_point now) const { return schedule.untilDue(now); }

private:
    LinkState current = LinkState::Down;
    Clock::time_point attemptStart{};
    ReconnectSchedule schedule;
};
