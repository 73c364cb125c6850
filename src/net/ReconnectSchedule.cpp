#include "net/ReconnectSchedule.h"

#include <algorithm>

void ReconnectSchedule::setDelays(Clock::duration firstDelay, Clock::duration longestDelay) {
    first = firstDelay;
    longest = std::max(firstDelay, longestDelay);
    delay = first;
}

void ReconnectSchedule::loggedIn(Clock::time_point now) {
    if (!loggedInAt)
        loggedInAt = now;
}

void ReconnectSchedule::ended(Clock::time_point now) {
    const bool lasted = loggedInAt && now - *loggedInAt >= kLastingSession;
    loggedInAt.reset();
    if (lasted)
        startOver(now);
    else
        failed(now);
}

void ReconnectSchedule::failed(Clock::time_point now) {
    nextAttempt = now + delay;
    delay = std::min(delay * 2, longest);
}

void ReconnectSchedule::startOver(Clock::time_point at) {
    nextAttempt = at;
    delay = first;
}

ReconnectSchedule::Clock::duration ReconnectSchedule::untilDue(Clock::time_point now) const {
    return due(now) ? Clock::duration::zero() : nextAttempt - now;
}
