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
    nextAttempt = std::max(now + delay, earliest.value_or(now));
    earliest.reset();
    delay = std::min(delay * 2, longest);
}

void ReconnectSchedule::startOver(Clock::time_point at) {
    nextAttempt = std::max(at, earliest.value_or(at));
    earliest.reset();
    delay = first;
}

void ReconnectSchedule::notBefore(Clock::time_point at) {
    earliest = at;
    nextAttempt = std::max(nextAttempt, at);
}

ReconnectSchedule::Clock::duration ReconnectSchedule::untilDue(Clock::time_point now) const {
    return due(now) ? Clock::duration::zero() : nextAttempt - now;
}
