// Process-wide logging: one call, a mask of level bits, and one sink at a time
// (standard error, a log file reopened on SIGHUP, or syslog).
#pragma once

#include <string>

// Each level is one bit; a message carries exactly one of them.
enum LogLevel : int {
    Error = 1,
    Warning = 2,
    Debug = 4,
    Notice = 8,
    Info = 16,
    Traffic = 32,
};

// Writes text (followed by ": " and strerror(errno) when withSystemError) if
// the level's bit is in the mask, with control bytes other than tab written
// as \r, \n or \xNN. Never fails; errno is untouched.
void logMessage(int level, const std::string& text, bool withSystemError = false);

// True when a message of this level would be written. Callers test it before
// building an expensive text (raw bytes, traffic lines).
bool logEnabled(int level);

// Replaces the mask. Until the first call only Error is written.
void setLogMask(int mask);
int logMask();

// Chooses syslog or the log file at path. False (and standard error stays the
// sink) when the file cannot be opened. Installs the SIGHUP reopen handler
// when the file is chosen.
bool initLogging(bool useSyslog, const std::string& path);

// The three sinks; each takes the level and the complete message.
void stderrSink(int level, const std::string& message);
void fileSink(int level, const std::string& message);
void syslogSink(int level, const std::string& message);

// SIGHUP handler: records the request; the file is closed and reopened
// before the next message is written to it.
void reopenLogFile(int signalNumber);

// The syslog priority (facility included) for a level.
int syslogPriority(int level);

// "%F %T: " in local time, the prefix of every stderr and file line.
std::string logTimestamp();
