#include "frame/LogLimiter.h"

#include "frame/Log.h"

#include <utility>

namespace {

LogLimiter* everyLimiter = nullptr;

}  // namespace

LogLimiter::LogLimiter(std::string kind, int lines) : what(std::move(kind)), linesPerWindow(lines), next(everyLimiter) {
    everyLimiter = this;
}

LogLimiter::~LogLimiter() {
    for (LogLimiter** link = &everyLimiter; *link != nullptr; link = &(*link)->next)
        if (*link == this) {
            *link = next;
            break;
        }
}

bool LogLimiter::admits(int level, Clock::time_point now) {
    flush(now);
    if (now - windowStart >= kWindow) {
        windowStart = now;
        written = 0;
    }
    if (written < linesPerWindow) {
        ++written;
        return true;
    }
    ++heldBack;
    heldLevel = level;
    return false;
}

void LogLimiter::log(int level, const std::string& text, Clock::time_point now) {
    if (admits(level, now))
        logMessage(level, text);
}

void LogLimiter::flush(Clock::time_point now) {
    if (heldBack == 0 || now - windowStart < kWindow)
        return;
    logMessage(heldLevel, what + ": " + std::to_string(heldBack) + " more in the last " +
                              std::to_string(kWindow.count()) + " s, not logged one by one");
    heldBack = 0;
}

void LogLimiter::flushAll(Clock::time_point now) {
    for (LogLimiter* limiter = everyLimiter; limiter != nullptr; limiter = limiter->next)
        limiter->flush(now);
}
