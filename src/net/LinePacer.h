// Paces the chat the bot sends to a server so that its flood control does
// not kill the bot or drop its lines: a burst of a few messages, then a
// steady allowance. On IRC long lines cost more than short ones; a hub
// counts messages, and lines that waited go out together as one message.
// Lines keep their order; past a bound the oldest queued lines are dropped
// and counted.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "frame/LogLimiter.h"

class LinePacer {
public:
    struct Drops {
        std::size_t overflowed = 0;
        std::size_t expired = 0;
    };
    using Clock = std::chrono::steady_clock;
    // A line costs one unit and one more for every this many bytes, as the
    // strictest common servers (ircu) charge by size as well.
    static constexpr std::size_t kBytesPerExtraUnit = 256;
    // Beyond this much queued chat the oldest lines are dropped.
    static constexpr std::size_t kMaxQueuedLines = 1000;
    static constexpr std::size_t kMaxQueuedBytes = 256 * 1024;

    // burstUnits: what may go out at once; interval: time for one unit to
    // come back. An interval of zero turns pacing off. A line that has
    // waited longer than maxAge is dropped (zero: no limit).
    void setLimits(int burstUnits, std::chrono::milliseconds interval,
                   std::chrono::seconds maxAge = std::chrono::seconds(0));
    bool enabled() const { return unitInterval.count() > 0; }
    // How a message is charged: by its size, of which at most countedBytes
    // count (what the framing lets reach the server); or one unit each,
    // whatever its size, as hubs count.
    void chargeBySize(std::size_t countedBytes) {
        chargedBytes = countedBytes;
        perMessage = false;
    }
    void chargePerMessage() { perMessage = true; }

    // A line of the client's own kind (chat is 0) keeps it through the
    // queue; only chat is joined, and chat goes before the other kinds.
    // size is what the line weighs against a batch's bound (by default its
    // bytes: a protocol's escapes weigh more).
    void push(std::string line, Clock::time_point now = Clock::now(), int kind = 0,
              std::size_t size = SIZE_MAX);
    // The next line whose cost is available at now, if any; lines too old
    // by now are dropped first.
    bool popReady(Clock::time_point now, std::string& line);
    // The same, and after it the chat lines queued behind it, joined by
    // separator (which begins a new line and weighs separatorWeight), as
    // long as the whole weighs at most maxBytes and holds at most maxLines
    // lines: one message for what waited.
    bool popBatch(Clock::time_point now, std::size_t maxBytes, std::size_t maxLines, std::string_view separator,
                  std::size_t separatorWeight, std::string& batch);
    // The kind of the line popReady or popBatch gave last.
    int poppedKind() const { return lastKind; }
    // How long until the next queued line may go; nothing when none is queued.
    std::optional<Clock::duration> nextReadyIn(Clock::time_point now) const;
    // Lines dropped at the bound since the last call.
    std::size_t takeDropped();
    // Lines dropped for their age since the last call.
    std::size_t takeExpired();
    // What a run of passes dropped at the bound or for its age, given once
    // a pass drops nothing more: a burst is reported in one line however
    // many passes it lasted. Called once a pass.
    Drops settledDrops();
    // Everything dropped at the bound or for its age since the start.
    Drops totals() const { return sinceStart; }
    // Logs what settledDrops gives, as warnings: overflowHead begins the
    // line of lines dropped at the bound, client the line of lines too old;
    // peer is what they waited for.
    void reportDrops(const std::string& overflowHead, const std::string& client, const char* peer,
                     LogLimiter& lines);
    // Empties the queue; the lines it held or dropped and did not report.
    std::size_t discardAll();
    void clear();
    std::size_t queuedLines() const { return queue.size(); }
    std::size_t queuedByteCount() const { return queuedBytes; }

    static double costOf(const std::string& line, std::size_t countedBytes);
    double cost(const std::string& line) const { return perMessage ? 1.0 : costOf(line, chargedBytes); }

private:
    struct Queued {
        std::string line;
        Clock::time_point since;  // when it was queued
        int kind;
        std::size_t size;         // its weight in a batch
    };
    std::deque<Queued>::iterator nextLine();
    std::deque<Queued>::const_iterator nextLine() const;
    bool take(std::deque<Queued>::iterator at, std::string& line);
    void dropExpired(Clock::time_point now);
    double creditAt(Clock::time_point now) const;

    std::deque<Queued> queue;
    std::size_t queuedBytes = 0;
    std::size_t dropped = 0;
    std::size_t expired = 0;
    Drops unsettled;                     // dropped by the passes of a run not yet reported
    Drops sinceStart;                    // dropped in all
    std::size_t chargedBytes = SIZE_MAX;  // the bytes of a line that count
    bool perMessage = false;              // a message costs one unit
    int lastKind = 0;
    std::size_t poppedSize = 0;          // the weight of the line popped last
    std::chrono::seconds maxAge{0};
    double capacity = 5;
    std::chrono::milliseconds unitInterval{0};
    double credit = 5;                   // units available at lastRefill
    Clock::time_point lastRefill{};
};
