// The state of one side of the relay as its client holds it, when its
// present log-in attempt began, and when a side that is down may log in
// again. The relay loop asks it; nothing else keeps a copy.
#pragma once

#include <chrono>

#include "net/ReconnectSchedule.h"

enum class LinkState {
    Down,          // no link; a new log-in is due when the schedule says so
    LoggingIn,     // the link is being opened, or the log-in is under way
    Joining,       // IRC: registered, our JOIN not yet confirmed
    InChannel,     // up: in the IRC channel, or in the hub's main chat
    OutOfChannel,  // IRC: kicked or refused by the channel, joining again later
};

class SideState {
public:
    using Clock = std::chrono::steady_clock;

    LinkState state() const { return current; }
    bool is(LinkState state) const { return current == state; }
    // When the present (or last) log-in attempt began.
    Clock::time_point attemptStartedAt() const { return attemptStart; }
    // The side has been in its channel at least once in this run.
    bool everUp() const { return sessions > 0; }
    // Log-ins started in this run.
    unsigned long attemptsStarted() const { return attempts; }
    // Log-ins that got into the channel or main chat, and sessions lost since.
    unsigned long logIns() const { return loggedIn; }
    unsigned long losses() const { return lost; }
    // When the side entered its present state.
    Clock::time_point since() const { return changedAt; }

    // Moves to next. The first InChannel of a session starts the session's
    // clock; Down ends the attempt or the session and schedules the next.
    void enter(LinkState next, Clock::time_point now = Clock::now());
    // Time until a side that is down may log in again (zero when due).
    Clock::duration untilNextAttempt(Clock::time_point now) const { return schedule.untilDue(now); }
    void setDelays(std::chrono::seconds first, std::chrono::seconds longest) { schedule.setDelays(first, longest); }
    const ReconnectSchedule& reconnectSchedule() const { return schedule; }
    void notBefore(Clock::time_point at) { schedule.notBefore(at); }

private:
    LinkState current = LinkState::Down;
    Clock::time_point attemptStart{};
    ReconnectSchedule schedule;
    unsigned long sessions = 0;  // times the side came up
    unsigned long attempts = 0;  // log-ins started
    unsigned long loggedIn = 0;  // attempts that got in
    unsigned long lost = 0;      // sessions that ended
    bool sessionUp = false;      // this attempt got in and has not ended
    Clock::time_point changedAt = Clock::now();
};
