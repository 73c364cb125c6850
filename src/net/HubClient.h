// The bot's client on a Direct Connect hub, whichever protocol the hub
// speaks: what both hub protocols do alike. The hub is found from its
// address; the bot's chat goes out paced, lines that waited joined into one
// multi-line message, because hubs drop chat beyond their flood limits
// instead of queueing it; a link silent for long gets an empty line, which
// both protocols ignore, so that NATs and firewalls keep it open.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "frame/Config.h"
#include "frame/LogLimiter.h"
#include "net/ChatClient.h"
#include "net/LinePacer.h"

class HubClient : public ChatClient {
public:
    // Nick refusals taken before the nick starts over from the configured one.
    static constexpr int kMaxNickRetries = 8;
    // A hub's name is kept to this length.
    static constexpr std::size_t kMaxHubNameBytes = 100;
    // TCP keepalive on the hub link: probes after 2 minutes of idleness,
    // every 30 seconds, 4 of them, so that a dead path is noticed.
    static constexpr std::chrono::seconds kKeepAliveIdle{120};
    static constexpr std::chrono::seconds kKeepAliveInterval{30};
    static constexpr int kKeepAliveProbes = 4;
    // After this much silence both ways (twice our patience: 2 minutes) we
    // send an empty line.
    static std::chrono::milliseconds silenceBeforeKeepAlive() { return patience() * 2; }

    // Takes the settings, which the configuration has checked.
    virtual void setConfig(const DCConfig& config) = 0;
    // The settings in use; the nick is the one the hub accepted.
    const DCConfig& getConfig() const { return settings; }
    // Hubs bound a message's text (after the speaker's tag), and so does
    // the bot: what one message may carry, by its weight (chatWeight).
    std::size_t chatRoom(bool) const override {
        return std::min(static_cast<std::size_t>(settings.dc_message_max_bytes), protocolChatRoom());
    }
    // Nicks compare without regard to ASCII letter case, as hubs do.
    bool sameNick(std::string_view a, std::string_view b) const override;
    const MemberList& members() const override { return hubMembers; }
    std::string peerName() const override { return hubName; }
    // Answers go through the pacing too: hubs count private messages
    // against the same flood limit as chat.
    void sendPrivate(std::string_view nick, const std::vector<std::string>& lines) final;
    // How long the bot's chat may wait for its turn (zero: no limit).
    void setQueueMaxAge(std::chrono::seconds maxAge);

protected:
    HubClient(Connection& connection, const ClientNames& names);

    // What both protocols take from the settings: the address, TLS and
    // the pacing. The address's port wins over dc_port.
    void useSettings(const DCConfig& config);
    // The link is open: keepalive starts.
    void startKeepAlive();
    // Something went either way: the keep-alive waits again.
    void noteActivity() { lastActivityAt = currentTime(); }
    void noteActivity(Clock::time_point now) { lastActivityAt = now; }
    // The hub refused the nick: it grows by one "_" and true is returned,
    // also across attempts (hubs close the link after a refusal), but only
    // so far: then the attempt is given up and the nick starts over.
    bool takeNextNick();
    // " as \"nick\" (n nick retries)"
    std::string logInProgress() const override;
    // Says one chat message as the bot, framed by the protocol; it may hold
    // newlines. Called in turn by the pacing.
    virtual void writeChat(std::string_view text) = 0;
    // What text weighs against the hub's bound on a message: its bytes as
    // the protocol writes them.
    virtual std::size_t chatWeight(std::string_view text) const { return text.size(); }
    // The most one message's text can weigh in the protocol itself.
    virtual std::size_t protocolChatRoom() const { return SIZE_MAX; }
    // Says text privately to one user, framed by the protocol.
    virtual void writePrivate(std::string_view nick, const std::string& text) = 0;
    // The protocol's own lost link; the base's empties the queue, and after
    // a session the next log-in starts from the configured nick.
    void onLinkLost() override;
    LinePacer::Drops queueDrops() const override { return pacer.totals(); }

    // A user came (true: one to tell, once we are in the main chat) or
    // went (true: one that was there).
    bool userCame(std::string_view nick);
    bool userWent(std::string_view nick);
    DCConfig settings;  // the settings in use
    MemberList hubMembers;  // who else is on the hub
    std::string hubName;    // what the hub calls itself

private:
    bool takeChat(std::string_view text, bool action, LineKind kind, const Attribution& who) final;
    void onTick(Clock::time_point now) final;
    std::optional<Clock::duration> protocolWakeIn(Clock::time_point now) const final;
    void writePacedChat(Clock::time_point now);
    void resetPacer();
    void startNickOver();

    const std::string clientLabel;       // names.client, for the lines of the queue
    std::string configuredNick;          // where the nick starts over
    int nickRetries = 0;                 // "_" added to the configured nick so far
    LinePacer pacer;                     // the bot's chat waiting for its turn
    std::chrono::seconds queueMaxAge{0};
    std::string batch;                   // what goes out as one message, reused
    std::string lineStart;               // what begins each further line of it
    std::size_t lineStartWeight = 0;
    Clock::time_point lastActivityAt{};  // when something last went either way
    LogLimiter queueLines;               // warnings of chat dropped from the queue
};
