#pragma once

#include <string>

// Writes the process id and a newline to path. False when the file cannot be
// opened or written.
bool writePidfile(const std::string& path);
