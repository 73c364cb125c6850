// Captures what the daemon's logging writes to standard error while it lives,
// with the log mask set for the duration.
#pragma once

#include <string>

#include "TempDir.h"

class LogCapture {
public:
    explicit LogCapture(int mask = 11);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text();
    bool contains(const std::string& part) { return text().find(part) != std::string::npos; }
    // Number of lines that hold part.
    int count(const std::string& part);

private:
    TempDir dir;
    std::string path;
    int savedStderr = -1;
    int savedMask;
};
