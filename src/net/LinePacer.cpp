#include "net/LinePacer.h"

#include <algorithm>

#include "frame/Log.h"

void LinePacer::setLimits(int burstUnits, std::chrono::milliseconds interval, std::chrono::seconds age) {
    capacity = std::max(1, burstUnits);
    unitInterval = interval;
    maxAge = age;
    credit = capacity;
    lastRefill = Clock::time_point{};
}

double LinePacer::costOf(const std::string& line, std::size_t countedBytes) {
    return 1.0 + static_cast<double>(std::min(line.size(), countedBytes) / kBytesPerExtraUnit);
}

void LinePacer::push(std::string line, Clock::time_point now, int kind, std::size_t size) {
    queuedBytes += line.size();
    if (size == SIZE_MAX)
        size = line.size();
    queue.push_back({std::move(line), now, kind, size});
    while (queue.size() > kMaxQueuedLines || queuedBytes > kMaxQueuedBytes) {
        queuedBytes -= queue.front().line.size();
        queue.pop_front();
        ++dropped;
        ++sinceStart.overflowed;
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
        ++sinceStart.expired;
    }
}

double LinePacer::creditAt(Clock::time_point now) const {
    if (lastRefill == Clock::time_point{})
        return capacity;
    const double earned = std::chrono::duration<double>(now - lastRefill) /
                          std::chrono::duration<double>(unitInterval);
    return std::min(capacity, credit + earned);
}

// Chat goes first: a line of another kind (an answer, a notice) waits
// until no chat waits before or after it. There are few of those, so the
// search is short.
std::deque<LinePacer::Queued>::iterator LinePacer::nextLine() {
    const auto chat = std::find_if(queue.begin(), queue.end(), [](const Queued& q) { return q.kind == 0; });
    return chat != queue.end() ? chat : queue.begin();
}

std::deque<LinePacer::Queued>::const_iterator LinePacer::nextLine() const {
    return const_cast<LinePacer*>(this)->nextLine();
}

bool LinePacer::popReady(Clock::time_point now, std::string& line) {
    dropExpired(now);
    if (queue.empty())
        return false;
    const auto next = nextLine();
    if (!enabled())
        return take(next, line);
    const double available = creditAt(now);
    // A line dearer than the whole burst still goes once the bucket is full.
    if (available < std::min(capacity, cost(next->line)))
        return false;
    credit = available - cost(next->line);
    lastRefill = now;
    return take(next, line);
}

bool LinePacer::popBatch(Clock::time_point now, std::size_t maxBytes, std::size_t maxLines,
                         std::string_view separator, std::size_t separatorWeight, std::string& batch) {
    if (!popReady(now, batch))
        return false;
    std::size_t weight = poppedSize;
    const auto linesIn = [](const std::string& text) {
        return 1 + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    };
    std::size_t lines = linesIn(batch);
    for (auto next = nextLine(); lastKind == 0 && next != queue.end() && next->kind == 0 &&
                                 weight + separatorWeight + next->size <= maxBytes &&
                                 lines + linesIn(next->line) <= maxLines;
         next = nextLine()) {
        weight += separatorWeight + next->size;
        lines += linesIn(next->line);
        batch += separator;
        batch += next->line;
        queuedBytes -= next->line.size();
        queue.erase(next);
    }
    return true;
}

bool LinePacer::take(std::deque<Queued>::iterator at, std::string& line) {
    lastKind = at->kind;
    poppedSize = at->size;
    line = std::move(at->line);
    queuedBytes -= line.size();
    queue.erase(at);
    return true;
}

std::optional<LinePacer::Clock::duration> LinePacer::nextReadyIn(Clock::time_point now) const {
    if (queue.empty())
        return std::nullopt;
    if (!enabled())
        return Clock::duration::zero();
    const double missing = std::min(capacity, cost(nextLine()->line)) - creditAt(now);
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

LinePacer::Drops LinePacer::settledDrops() {
    Drops settled;
    const auto settle = [](std::size_t& fresh, std::size_t& run, std::size_t& out) {
        if (fresh == 0)
            std::swap(out, run);
        run += fresh;
        fresh = 0;
    };
    settle(dropped, unsettled.overflowed, settled.overflowed);
    settle(expired, unsettled.expired, settled.expired);
    return settled;
}

void LinePacer::reportDrops(const std::string& overflowHead, const std::string& client, const char* peer,
                            LogLimiter& lines) {
    const Drops settled = settledDrops();
    if (settled.overflowed > 0 && lines.admits(Warning))
        logMessage(Warning, overflowHead + ": more than " + std::to_string(kMaxQueuedLines) + " lines or " +
                                std::to_string(kMaxQueuedBytes) + " bytes waiting for " + peer + "; dropped the " +
                                std::to_string(settled.overflowed) + " oldest");
    if (settled.expired > 0 && lines.admits(Warning))
        logMessage(Warning, client + ": dropped " + std::to_string(settled.expired) +
                                " lines that had waited more than " + std::to_string(maxAge.count()) +
                                " s for their turn");
}

std::size_t LinePacer::discardAll() {
    const std::size_t discarded =
        queue.size() + dropped + expired + unsettled.overflowed + unsettled.expired;
    clear();
    dropped = 0;
    expired = 0;
    unsettled = Drops();
    return discarded;
}

// A new deque, not clear(): the memory of a large burst goes back.
void LinePacer::clear() {
    std::deque<Queued>().swap(queue);
    queuedBytes = 0;
}
