// The log-in phase and the relay loop: logs in to IRC and to the hub at
// once, then carries chat both ways until a stop, logging in again to a side
// whose link was lost. The loop's one wait is the only place the daemon
// waits; connects, handshakes and log-ins are states of each side that the
// loop moves on.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "frame/BotAnswers.h"
#include "frame/PresenceNotices.h"
#include "net/ChatClient.h"
#include "translator/Translator.h"

// What the relay does besides chat, and how it names the two places.
struct RelayOptions {
    bool presence = false;   // tell who comes and goes on the other side
    std::string channel;     // "#chat"
    std::string server;      // "irc.example.org"
    std::string hub;         // "hub.example.org"
};

class Relay {
public:
    using Clock = std::chrono::steady_clock;
    // Output a peer has not taken yet beyond which the other side is not
    // read: TCP then slows that sender down, and nothing is dropped.
    static constexpr std::size_t kOutputHighWater = 256 * 1024;
    // The goodbye to both sides on a stop takes at most this long.
    static constexpr std::chrono::seconds kGoodbyeTime{2};

    Relay(Translator& translator, ChatClient& irc, ChatClient& hub, const RelayOptions& options = RelayOptions());

    // Logs in to both sides and relays until a stop is asked for; the exit
    // status: 0 after a stop, 2 when the first log-in of a side failed.
    int run();

private:
    // One side as the loop sees it.
    struct Side {
        ChatClient& client;
        ChatClient& other;
        bool firstLogInPending = true;
    };
    // What became of a side's goodbye.
    enum class Goodbye { NotSaid, Delivered, Undelivered };
    struct Goodbyes {
        Goodbye irc;
        Goodbye hub;
    };

    void relayOnePass();
    bool relayIRCToHub();
    bool relayHubToIRC();
    // Private messages and comings and goings, from the side that is irc
    // when fromIrc.
    void handleOther(const ChatMessage& chat, bool fromIrc);
    void tellPresence();
    void noteFirstLogIn(Side& side);
    void waitForTraffic(std::optional<Clock::time_point> goodbyeUntil = std::nullopt);
    timeval* waitLimit(timeval& storage) const;
    bool congested(const ChatClient& client) const;
    // The side is read: neither it nor the other is congested.
    bool takesInput(const Side& side) const;
    int stop();
    void logStatus() const;
    Goodbyes farewell(const std::string& reason);

    Translator& translator;
    ChatClient& irc;
    ChatClient& hub;
    Side sides[2];
    bool backlog = false;              // a side had more than one pass takes
    bool firstLogInFailed = false;     // a side's first log-in ended without a session
    std::vector<std::string> hubTexts;  // what one IRC message becomes on the hub
    std::vector<std::string> ircTexts;  // what one hub message becomes on IRC
    int highestDescriptor = 0;
    Clock::time_point startedAt = Clock::now();
    unsigned long relayedToHub = 0;     // chat handed to the hub side
    unsigned long relayedToIrc = 0;     // lines handed to the IRC side
    bool presence = false;
    BotAnswers answers;
    PresenceNotices ircPresence;         // comings and goings in the channel, for the hub
    PresenceNotices hubPresence;         // ... on the hub, for the channel
};
