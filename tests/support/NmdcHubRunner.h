// A real NMDC hub, PtokaX or Verlihub, built from the project's shared
// folder and started for the test on a free loopback port with a fresh
// configuration (run-ptokax, run-verlihub). Both know these accounts:
// testop/oppass (master), regbot/goodpass (registered), opbot/botpass
// (operator); Verlihub also vipbot/botpass.
#pragma once

#include <string>

#include "ProcessRunner.h"
#include "TempDir.h"

enum class NmdcHubKind { PtokaX, Verlihub };

class NmdcHubRunner {
public:
    // extraSettings: lines for the hub's own settings, in its format.
    explicit NmdcHubRunner(NmdcHubKind kind, const std::string& extraSettings = "");
    ~NmdcHubRunner();

    // Empty when this hub can run here; else what it needs, in one line.
    static std::string whyUnavailable(NmdcHubKind kind);
    static const char* name(NmdcHubKind kind);
    // The hub's own bot, which speaks for it in the main chat.
    const char* botNick() const { return kind == NmdcHubKind::PtokaX ? "PtokaX" : "Verlihub"; }
    NmdcHubKind hubKind() const { return kind; }
    int port() const { return serverPort; }
    void stop();
    std::string log() const { return process.stdoutText() + process.stderrText(); }

private:
    NmdcHubKind kind;
    TempDir dir;
    ProcessRunner process;
    int serverPort;
};
