#include "LogCapture.h"

#include <cstdio>
#include <sstream>
#include <unistd.h>

#include "frame/Log.h"

LogCapture::LogCapture(int mask) : path(dir.file("stderr")), savedMask(logMask()) {
    std::fflush(stderr);
    savedStderr = dup(2);
    if (!std::freopen(path.c_str(), "w", stderr))
        savedStderr = -1;
    setLogMask(mask);
}

LogCapture::~LogCapture() {
    setLogMask(savedMask);
    if (savedStderr < 0)
        return;
    std::fflush(stderr);
    dup2(savedStderr, 2);
    close(savedStderr);
}

std::string LogCapture::text() {
    std::fflush(stderr);
    return readFile(path);
}

int LogCapture::count(const std::string& part) {
    std::istringstream lines(text());
    std::string line;
    int found = 0;
    while (std::getline(lines, line))
        if (line.find(part) != std::string::npos)
            ++found;
    return found;
}
