#include "frame/Pidfile.h"

#include <cstdio>
#include <unistd.h>

bool writePidfile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    const bool written = std::fprintf(file, "%ld\n", static_cast<long>(getpid())) > 0;
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    return written && flushed && closed;
}
