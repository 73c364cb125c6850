#include "frame/Log.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <syslog.h>

#include "frame/printable.h"

namespace {

int mask = Error;
void (*logSink)(int, const std::string&) = stderrSink;

std::ofstream logFile;
std::string logFilePath;

// Set by the signal handler only; the reopen itself runs in the main flow,
// never in the middle of a write to the file.
volatile std::sig_atomic_t reopenRequested = 0;

void reopenIfRequested() {
    if (!reopenRequested)
        return;
    reopenRequested = 0;
    logFile.close();
    logFile.clear();
    logFile.open(logFilePath, std::ios::out | std::ios::app | std::ios::binary);
}

// The line both stderr and the log file get: timestamp, message, newline.
std::string logLine(const std::string& message) { return logTimestamp() + message + '\n'; }

}  // namespace

std::string logTimestamp() {
    char buffer[256] = {};
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(buffer, sizeof buffer, "%F %T: ", &local);
    return buffer;
}

void setLogMask(int newMask) { mask = newMask; }
int logMask() { return mask; }
bool logEnabled(int level) { return (level & mask) != 0; }

void logMessage(int level, const std::string& text, bool withSystemError) {
    if (!logEnabled(level))
        return;
    const int savedErrno = errno;
    // Peer data (traffic lines, quoted replies) must not break or forge log
    // lines: control bytes are written escaped, whatever the sink.
    std::string message = holdsControlBytes(text) ? printable(text, std::string::npos) : text;
    if (withSystemError) {
        message += ": ";
        message += std::strerror(savedErrno);
    }
    logSink(level, message);
    errno = savedErrno;
}

void stderrSink(int, const std::string& message) {
    const std::string line = logLine(message);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void fileSink(int, const std::string& message) {
    reopenIfRequested();
    if (!logFile)
        return;
    logFile << logLine(message);
    logFile.flush();
}

int syslogPriority(int level) {
    switch (level) {
    case Error: return LOG_DAEMON | LOG_ERR;
    case Warning: return LOG_DAEMON | LOG_WARNING;
    case Debug: return LOG_DAEMON | LOG_DEBUG;
    case Notice: return LOG_DAEMON | LOG_NOTICE;
    case Info: return LOG_DAEMON | LOG_INFO;
    case Traffic: return LOG_DAEMON | LOG_INFO;
    default: return LOG_DAEMON | LOG_ERR;
    }
}

void syslogSink(int level, const std::string& message) {
    // Relayed chat may hold '%': the message is data, never a format.
    syslog(syslogPriority(level), "%s", message.c_str());
}

void reopenLogFile(int) {
    reopenRequested = 1;
    std::signal(SIGHUP, reopenLogFile);
}

bool initLogging(bool useSyslog, const std::string& path) {
    if (useSyslog) {
        logSink = syslogSink;
        return true;
    }
    logFile.open(path, std::ios::out | std::ios::app | std::ios::binary);
    if (!logFile.is_open() || !logFile)
        return false;
    logFilePath = path;
    logSink = fileSink;
    std::signal(SIGHUP, reopenLogFile);
    return true;
}
