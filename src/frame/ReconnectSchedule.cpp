#include "frame/ReconnectSchedule.h"

#include <algorithm>

void ReconnectSchedule::lost(Clock::time_point now) {
    nextAttempt = now;
    delay = kFirstDelay;
}

void ReconnectSchedule::failed(Clock::time_point now) {
    nextAttempt = now + delay;
    delay = std::min<Clock::duration>(delay * 2, kLongestDelay);
}

void ReconnectSchedule::succeeded() { delay = kFirstDelay; }

ReconnectSchedule::Clock::duration ReconnectSchedule::untilDue(Clock::time_point now) const {
    return due(now) ? Clock::duration::zero() : nextAttempt - now;
}
