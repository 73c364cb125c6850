#include "frame/CommandLine.h"

#include <cstdio>
#include <string>
#include <unistd.h>

#include "adc/tiger.h"
#include "frame/Config.h"
#include "net/TlsSession.h"

namespace {

void printLine(const char* text) {
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

void printVersion() { printLine("brivox " BRIVOX_VERSION); }

void printVersionAndFeatures() {
    printVersion();
    std::string features = "features:";
    if (TlsSession::available())
        features += " TLS";
    if (tigerAvailable())
        features += " ADC";
    printLine(features == "features:" ? "features: none (no TLS, no ADC)" : features.c_str());
}

void printUsage() {
    printVersion();
    printLine("");
    printLine("Options:");
    printLine("   -h      - show this help message");
    printLine("   -c file - specify path to config file");
    printLine("   -l file - override path to logfile specified in config");
    printLine("   -L num  - override loglevel");
    printLine("   -p file - override path to pidfile specified in config");
    printLine("   -d      - do not go in background, all logging goes to stderr");
    printLine("   -t      - check the configuration and exit");
    printLine("   -V      - print the version and what this build supports, and exit");
    printLine("");
}

bool CommandLine::parse(int argc, char* argv[]) {
    int option;
    // The '+' stops glibc's getopt at the first non-option argument instead
    // of searching on past it; other getopts stop there anyway.
    while ((option = getopt(argc, argv, "+dtVc:l:L:p:h")) != -1) {
        switch (option) {
        case 'd': background = false; break;
        case 't': checkOnly = true; break;
        case 'V': versionOnly = true; break;
        case 'c': configPath = optarg; break;
        case 'l': logfileOverride = optarg; break;
        case 'p': pidfileOverride = optarg; break;
        case 'L':
            levelOverride = parseInt32(optarg);
            levelGiven = true;
            break;
        default:  // 'h', an unknown option, or an option without its argument
            return false;
        }
    }
    return true;
}
