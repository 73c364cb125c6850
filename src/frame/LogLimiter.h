// A kind of log line that a peer can make us write again and again (a
// kick, a refused JOIN, a hub's notice, an over-long line): the first few
// of each minute are written, the rest only counted, and the count is
// written in one line once the minute is over. A peer then cannot fill the
// disk, and the operator still learns how often it happened.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

class LogLimiter {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kWindow{60};

    // what names the kind in the line that counts what was held back.
    explicit LogLimiter(std::string what, int linesPerWindow = 5);
    ~LogLimiter();
    LogLimiter(const LogLimiter&) = delete;
    LogLimiter& operator=(const LogLimiter&) = delete;

    // Writes text at level unless the minute has had its share of lines.
    void log(int level, const std::string& text, Clock::time_point now = Clock::now());
    // True when a line would be written now (the caller builds it only then);
    // false counts it as held back.
    bool admits(int level, Clock::time_point now = Clock::now());
    // Writes the count of what was held back once its minute is over; the
    // relay loop asks every limiter on each pass.
    void flush(Clock::time_point now = Clock::now());
    static void flushAll(Clock::time_point now = Clock::now());

private:
    std::string what;
    int linesPerWindow;
    Clock::time_point windowStart{};
    int written = 0;
    std::size_t heldBack = 0;
    int heldLevel = 0;
    LogLimiter* next = nullptr;  // every limiter of the process, for flushAll
};
