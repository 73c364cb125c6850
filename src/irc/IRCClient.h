// The bot's client on the IRC server: registration, the welcome, joining and
// staying in the channel, PING answers, and the channel's chat both ways.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "frame/Config.h"
#include "frame/LogLimiter.h"
#include "irc/IRCConnection.h"
#include "irc/IRCMessage.h"
#include "net/LinePacer.h"
#include "irc/CapNegotiation.h"
#include "irc/RelayedNicks.h"
#include "net/ChatClient.h"

class IRCClient : public ChatClient {
public:
    // Nick-in-use answers taken per log-in before it is given up.
    static constexpr int kMaxNickRetries = 8;
    // A kicked bot waits this long (or the first reconnection delay when the
    // operator set a shorter one) before it joins again, so that a kick
    // still means something to the channel.
    static constexpr std::chrono::seconds kRejoinPause{5};
    // After this much silence from the server (1.5 times our patience:
    // 90 s) we send a PING of our own; no data within our patience after it
    // means the link is dead, though TCP has not noticed.
    static std::chrono::milliseconds silenceBeforePing() { return patience() * 3 / 2; }
    // Until the server shows them, our user name and host are assumed this
    // long: the usual limits for an ident and a host name.
    static constexpr std::size_t kLongUserBytes = 10;
    static constexpr std::size_t kLongHostBytes = 63;

    IRCClient();
    ~IRCClient() override;

    // Takes the settings, which the configuration has checked.
    void setConfig(const IRCConfig& config);
    // The settings in use; the nick is the one the server knows us by.
    const IRCConfig& getConfig() const { return settings; }
    // Our prefix's length and the server's case mapping, as far as known.
    const IRCServerView& serverView() const { return view; }

    void sendPrivate(std::string_view nick, const std::vector<std::string>& lines) override;
    const MemberList& members() const override { return channelMembers; }
    std::size_t chatRoom(bool action) const override;
    bool sameNick(std::string_view a, std::string_view b) const override;

private:
    struct Handler {
        std::string_view command;
        void (IRCClient::*handle)(const IRCMessage& message);
    };
    static const Handler registrationHandlers[];
    static const Handler sessionHandlers[];

    void onAttemptStart() override;
    void onLinkOpen() override;
    bool onMessage(const std::string& line, ChatMessage& chat) override;
    void onTick(Clock::time_point now) override;
    std::optional<Clock::duration> protocolWakeIn(Clock::time_point now) const override;
    bool takeChat(std::string_view text, bool action, LineKind kind, const Attribution& who) override;
    std::optional<std::string> goodbye(const std::string& reason) const override;
    void onLinkLost() override;
    std::string logInProgress() const override;
    std::string chatPlace() const override { return settings.irc_channel; }
    LinePacer::Drops queueDrops() const override { return pacer.totals(); }

    bool dispatch(const Handler* begin, const Handler* end, const IRCMessage& message);
    bool readChat(const IRCMessage& message, ChatMessage& chat) const;
    bool readPresence(const IRCMessage& message, ChatMessage& chat);
    void addNames(std::string_view names);
    void followCaps(const IRCMessage& message, std::string_view line);
    void noteCapabilities();
    void onFail(const IRCMessage& message);
    bool isOurRelayedLine(const IRCMessage& message) const;
    void writeHeld(const std::string& stored, const RelayedNicks::Held& held);
    void onPing(const IRCMessage& message);
    void onWelcome(const IRCMessage& message);
    void onNickInUse(const IRCMessage& message);
    void onNickRefused(const IRCMessage& message);
    void onSupport(const IRCMessage& message);
    void onJoin(const IRCMessage& message);
    void onKick(const IRCMessage& message);
    void onNickChange(const IRCMessage& message);
    void onJoinRefused(const IRCMessage& message);
    bool awaitsJoinAnswer() const;
    bool isUs(std::string_view nick) const;
    bool isOurChannel(std::string_view channel) const;
    void joinChannel();
    void leaveChannel();
    std::size_t discardQueuedLines();
    void writePacedLines();
    void reportQueueDrops();
    void heard(Clock::time_point now);
    bool linkIsAlive(Clock::time_point now);
    Clock::time_point livenessDeadline() const;
    void noteOwnPrefix();
    void resetPacer();

    IRCConfig settings;          // the settings in use
    std::string configuredNick;  // where every log-in starts
    IRCConnection connection;    // the server link
    LinePacer pacer;             // chat lines waiting for the channel or their turn
    ReconnectSchedule joinSchedule;  // when to try JOIN again while kept out
    int nickRetries = 0;         // nick-in-use answers in this log-in
    std::string ownUserHost;     // "!user@host" as the server shows us; empty until it has
    std::string privmsgHead;     // "PRIVMSG <channel> :"
    std::string outgoing;        // the line being built, reused
    mutable std::string textUtf8;     // a received text read as CP1252, when it was no UTF-8
    mutable std::string speakerUtf8;  // ... and its speaker
    IRCServerView view;          // what the server told us that shapes our lines
    MemberList channelMembers{[this](std::string_view nick) { return ircFold(nick, view.caseMapping); }};
    std::optional<CapNegotiation> caps;  // the capability negotiation of this log-in, when one is wanted
    std::string_view currentLine;   // the line being handled, for the SASL replies
    bool relaymsgWanted = false;    // hub users are to speak under their own nicks where the server lets them
    RelayedNicks relayed;           // ... and whether it does
    LogLimiter relayLines{"IRCClient: relayed nicks not granted"};
    LogLimiter kickLines{"IRCClient: kicks of the bot"};     // what a server can make us log again and again
    LogLimiter joinLines{"IRCClient: JOINs answered"};
    LogLimiter queueLines{"IRCClient: warnings of chat dropped from the queue"};
    Clock::time_point lastHeardAt{};             // when the server last sent a line
    std::optional<Clock::time_point> pingSentAt;  // our own PING, while unanswered
};
