// The daemon's command line: "-c file -l file -L num -p file -d -t -V -h".
#pragma once

#include <cstdint>
#include <string>

#include "platform.h"

struct CommandLine {
    std::string configPath = BRIVOX_DEFAULT_CONFIG;  // -c
    std::string logfileOverride;                 // -l; empty keeps the file's logfile
    std::string pidfileOverride;                 // -p; empty keeps the file's pidfile
    bool background = true;                      // cleared by -d
    bool checkOnly = false;                      // -t: check the configuration and exit
    bool versionOnly = false;                    // -V: print the version and the build's features
    std::int32_t levelOverride = 0;              // -L, as strtol reads it
    bool levelGiven = false;                     // whether -L was given

    // Parses with getopt until the first non-option argument. False for -h,
    // an unknown option or a missing argument: the usage text is due.
    bool parse(int argc, char* argv[]);
};

// "brivox 0.1" on standard output.
void printVersion();
// The version, then what this build can do: "features: TLS ADC".
void printVersionAndFeatures();
// The usage text on standard output.
void printUsage();
