// The real brivox binary relaying between a real ngircd and the scripted hub,
// with an IRC user in the channel: the set-up every end-to-end test shares.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "IrcUser.h"
#include "NgircdRunner.h"
#include "ProcessRunner.h"
#include "ScriptedHub.h"
#include "TempDir.h"

// How the peers listen.
struct RelayPeers {
    NgircdOptions irc;
    bool hubOnIpv6 = false;
};

// Plays the hub's log-in with the real brivox and waits until brivox says
// it is in: only then does chat from IRC reach the hub.
void logInToScriptedHub(ScriptedHub& hub, ProcessRunner& brivox, const HubLoginScript& script = HubLoginScript());

class RelayHarness {
public:
    explicit RelayHarness(bool serverPenalties = true);
    explicit RelayHarness(const RelayPeers& peers);
    ~RelayHarness();

    // Writes the config (extra lines appended) and starts brivox in the
    // foreground; then plays the hub's login and waits for the bot's JOIN.
    void start(const std::string& extraConfig = "", const std::vector<std::string>& extraArgs = {},
               const HubLoginScript& login = HubLoginScript());
    // Waits until the bot has joined the channel, as alice sees it.
    void waitForBotJoin(const std::string& nick = "brivox");
    std::string configText(const std::string& extraConfig) const;
    // The hub's log-in again, after the hub dropped the bot.
    void logInToHub(const HubLoginScript& script = HubLoginScript()) { logInToScriptedHub(hub, brivox, script); }
    // Asks the server with NAMES until user sees nick in the channel.
    static void waitUntilInChannel(IrcUser& user, const std::string& nick,
                                   std::chrono::milliseconds deadline = std::chrono::seconds(40));

    TempDir dir;
    NgircdRunner ircServer;
    ScriptedHub hub;
    std::unique_ptr<IrcUser> alice;
    ProcessRunner brivox;
};
