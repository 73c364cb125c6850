#include "net/ReconnectSchedule.h"

#include <algorithm>

void ReconnectSchedule::setDelays(std::chrono::seconds first, std::chrono::seconds longest) {
    firstDelay = first;
    longestDelay = std::max<Clock::duration>(first, longest);
    delay = firstDelay;
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
    delay = std::min(delay * 2, longestDelay);
}

void ReconnectSchedule::startOver(Clock::time_point at) {
    nextAttempt = at;
    delay = firstDelay;
}

ReconnectSchedule::Clock::duration ReconnectSchedule::untilDue(Clock::time_point now) const {
    return due(now) ? Clock::duration::zero() : nextAttempt - now;
}
