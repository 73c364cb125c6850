// The log-in phase and the relay loop: logs in to IRC and to the hub,
// configures the Translator, then carries chat both ways for ever, logging in
// again to a side whose link was lost.
#pragma once

#include <chrono>
#include <string>
#include <sys/select.h>
#include <vector>

#include "dc/DCClient.h"
#include "frame/Config.h"
#include "irc/IRCClient.h"
#include "translator/Translator.h"

class Relay {
public:
    // What one pass takes from a side before it serves the other, so that a
    // side that floods cannot starve the other.
    static constexpr std::size_t kMaxMessagesPerPass = 256;
    static constexpr std::size_t kMaxBytesPerPass = 256 * 1024;
    // Buffers larger than this give their memory back once drained.
    static constexpr std::size_t kShrinkAbove = 64 * 1024;
    // Output a peer has not taken yet beyond which the other side is not
    // read: TCP then slows that sender down, and nothing is dropped.
    static constexpr std::size_t kOutputHighWater = 256 * 1024;

    Relay(Config& config, Translator& translator, IRCClient& irc, DCClient& dc);

    // The goodbye to both sides on a stop takes at most this long.
    static constexpr std::chrono::seconds kGoodbyeTime{2};

    // Logs in to both sides and configures the Translator; 0, or the exit
    // status of the failure. A stop asked for meanwhile ends it with 0.
    int logIn();
    // The relay loop, until a stop is asked for; returns the exit status.
    int run();

private:
    void waitForTraffic();
    void flushQueuedOutput();
    bool relayIRCToHub();
    bool relayHubToIRC();
    template <typename Client, typename RelayOne>
    bool takeShare(Client& from, RelayOne relayOne);
    void relayOnePass();
    template <typename Client>
    void logInAgainWhenDue(Client& client, const char* closedWarning);
    void reconfigureTranslatorIfNicksChanged();
    int stop();
    template <typename Client>
    bool congested(const Client& client) const;
    timeval* waitLimit(timeval& storage) const;

    Config& config;
    Translator& translator;
    IRCClient& irc;
    DCClient& dc;
    std::string message;               // one buffer for both directions
    bool backlog = false;              // a side had more than one pass takes
    bool stopped = false;              // the goodbye has been said
    std::vector<std::string> ircLines;  // what one hub message becomes on IRC
    int highestDescriptor = 0;
};
