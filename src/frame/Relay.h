// The log-in phase and the relay loop: logs in to IRC and to the hub,
// configures the Translator, then carries chat both ways for ever, logging in
// again to a side whose link was lost.
#pragma once

#include <chrono>
#include <sys/select.h>

#include "dc/DCClient.h"
#include "frame/Config.h"
#include "frame/ReconnectSchedule.h"
#include "irc/IRCClient.h"
#include "translator/Translator.h"

class Relay {
public:
    // While a side is down the wait in select is bounded by this, so that
    // the side is tried again even when nothing else happens.
    static constexpr std::chrono::seconds kDownWaitLimit{10};

    Relay(Config& config, Translator& translator, IRCClient& irc, DCClient& dc);

    // Logs in to both sides and configures the Translator; 0, or the exit
    // status of the failure.
    int logIn();
    // The relay loop; never returns.
    [[noreturn]] void run();

private:
    // What the loop keeps for one side.
    struct SideState {
        const char* closedWarning;     // logged before each reconnection attempt
        bool up = true;                // logged in when last looked at
        ReconnectSchedule schedule;
    };

    void waitForTraffic();
    void flushQueuedOutput();
    void relayIRCToHub();
    void relayHubToIRC();
    template <typename Client, typename Settings>
    void keepUp(Client& client, const Settings& configured, SideState& side);
    void noteLostSides();
    template <typename Client, typename Settings>
    void noticeLoss(Client& client, const Settings& configured, SideState& side);
    void reconfigureTranslatorIfNicksChanged();
    timeval* waitLimit(timeval& storage) const;

    Config& config;
    Translator& translator;
    IRCClient& irc;
    DCClient& dc;
    IRCConfig configuredIRC;           // the settings a new log-in starts from
    DCConfig configuredDC;
    SideState ircSide{"IRC connection closed. Trying to reconnect...", true, {}};
    SideState dcSide{"DC++ connection closed. Trying to reconnect...", true, {}};
    std::string message;               // one buffer for both directions
    int highestDescriptor = 0;
};
