// A real Ergo IRC server, built from the project's shared folder and
// started for the test on a free loopback port (run-ergo): relayed nicks
// (draft/relaymsg, separator "/") for channel operators, flood limits off.
#pragma once

#include <string>

#include "ProcessRunner.h"
#include "TempDir.h"

class ErgoRunner {
public:
    ErgoRunner();
    ~ErgoRunner();

    // Empty when Ergo can run here; else what it needs, in one line.
    static std::string whyUnavailable();
    int port() const { return serverPort; }
    std::string log() const { return process.stdoutText() + process.stderrText(); }

private:
    TempDir dir;
    ProcessRunner process;
    int serverPort;
};
