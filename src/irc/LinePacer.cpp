#include "irc/LinePacer.h"

#include <algorithm>

#include "irc/IRCMessage.h"

void LinePacer::setLimits(int burstUnits, std::chrono::milliseconds interval, std::chrono::seconds age) {
    capacity = std::max(1, burstUnits);
    unitInterval = interval;
    maxAge = age;
    credit = capacity;
    lastRefill = Clock::time_point{};
}

// The cost follows what goes on the wire, which the framing cuts to one
// protocol line.
double LinePacer::costOf(const std::string& line) {
    return 1.0 + static_cast<double>(std::min(line.size(), kMaxIrcLineBody) / kBytesPerExtraUnit);
}

void LinePacer::push(std::string line, Clock::time_point now) {
    queuedBytes += line.size();
    queue.push_back({std::move(line), now});
    while (queue.size() > kMaxQueuedLines || queuedBytes > kMaxQueuedBytes) {
        queuedBytes -= queue.front().line.size();
        queue.pop_front();
        ++dropped;
    }
}

// Lines keep their order, so the oldest are at the front.
void LinePacer::dropExpired(Clock::time_point now) {
    if (maxAge.count() == 0)
        return;
    while (!queue.empty() && now - queue.front().since > maxAge) {
        queuedBytes -= queue.front().line.size();
        queue.pop_front();
        ++expired;
    }
}

double LinePacer::creditAt(Clock::time_point now) const {
    if (lastRefill == Clock::time_point{})
        return capacity;
    const double earned = std::chrono::duration<double>(now - lastRefill) /
                          std::chrono::duration<double>(unitInterval);
    return std::min(capacity, credit + earned);
}

bool LinePacer::popReady(Clock::time_point now, std::string& line) {
    dropExpired(now);
    if (queue.empty())
        return false;
    if (!enabled())
        return popFront(line);
    const double available = creditAt(now);
    // A line dearer than the whole burst still goes once the bucket is full.
    if (available < std::min(capacity, costOf(queue.front().line)))
        return false;
    credit = available - costOf(queue.front().line);
    lastRefill = now;
    return popFront(line);
}

bool LinePacer::popFront(std::string& line) {
    line = std::move(queue.front().line);
    queuedBytes -= line.size();
    queue.pop_front();
    return true;
}

std::optional<LinePacer::Clock::duration> LinePacer::nextReadyIn(Clock::time_point now) const {
    if (queue.empty())
        return std::nullopt;
    if (!enabled())
        return Clock::duration::zero();
    const double missing = std::min(capacity, costOf(queue.front().line)) - creditAt(now);
    if (missing <= 0)
        return Clock::duration::zero();
    return std::chrono::duration_cast<Clock::duration>(missing * std::chrono::duration<double>(unitInterval)) +
           Clock::duration(1);
}

std::size_t LinePacer::takeDropped() {
    const std::size_t count = dropped;
    dropped = 0;
    return count;
}

std::size_t LinePacer::takeExpired() {
    const std::size_t count = expired;
    expired = 0;
    return count;
}

// A new deque, not clear(): the memory of a large burst goes back.
void LinePacer::clear() {
    std::deque<Queued>().swap(queue);
    queuedBytes = 0;
}
