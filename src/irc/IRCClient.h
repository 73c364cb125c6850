// The bot's client on the IRC server: registration, the welcome, joining and
// staying in the channel, PING answers, and the lines the relay sends and
// receives.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/select.h>

#include "frame/Config.h"
#include "frame/SideState.h"
#include "irc/IRCConnection.h"
#include "irc/IRCMessage.h"
#include "irc/LinePacer.h"
#include "irc/SaslLogin.h"

class IRCClient {
public:
    using Clock = std::chrono::steady_clock;
    // Nick-in-use answers taken per log-in before it is given up.
    static constexpr int kMaxNickRetries = 8;
    // A kicked bot waits this long before it joins again, so that a kick
    // still means something to the channel.
    static constexpr std::chrono::seconds kRejoinPause{5};
    // After this much silence from the server (1.5 wait limits: 90 s) we
    // send a PING of our own; no data within a wait limit after it means the
    // link is dead, though TCP has not noticed.
    static std::chrono::milliseconds silenceBeforePing() { return Connection::waitLimit() * 3 / 2; }
    // Until the server shows them, our user name and host are assumed this
    // long: the usual limits for an ident and a host name.
    static constexpr std::size_t kLongUserBytes = 10;
    static constexpr std::size_t kLongHostBytes = 63;

    IRCClient();
    ~IRCClient();
    IRCClient(const IRCClient&) = delete;
    IRCClient& operator=(const IRCClient&) = delete;

    // Takes the settings unless one is missing, out of range, or holds what
    // cannot go on the wire (the reason is logged).
    bool setConfig(const IRCConfig& config);
    // Resolves the server, connects (TLS when configured) and sends the
    // registration (CAP LS first when SASL is configured, then PASS, NICK,
    // USER), starting from the configured nick. The SASL exchange, the
    // welcome and the JOIN follow through getMessage. Blocks until the
    // lines are written.
    bool Connect();
    // The next complete line from the server, PINGs answered on the way and
    // the registration and the channel membership followed.
    bool getMessage(std::string& line);
    // Queues one line for the channel; it goes out, paced, once we are in
    // the channel. Dropped (and counted) while we are kept out of it.
    bool sendMessage(const std::string& text);
    // The work that waits for a time: a log-in past its bound is given up,
    // the channel joined again when due, paced lines written.
    void tick();
    // Time until there is work for getMessage or tick, or until a new log-in
    // is due; nothing when the client only waits for the server.
    std::optional<Clock::duration> nextWakeIn() const;

    LinkState state() const { return side.state(); }
    // True unless the side is down.
    bool isConnected() const;
    // The settings in use; the nick is the one the server knows us by.
    const IRCConfig& getConfig() const;
    // Our prefix's length and the server's case mapping, as far as known.
    const IRCServerView& serverView() const;
    int addToFdSet(fd_set* set) const;
    // The socket in the sets the relay loop waits on, as Connection puts it.
    int addToFdSets(fd_set* readable, fd_set* writable, bool wantInput) const;
    // Input TLS has decrypted that select no longer reports.
    bool hasPendingInput() const;
    // True while output waits for the socket.
    bool hasQueuedOutput() const;
    std::size_t queuedOutputBytes() const;
    void flushOutput();
    // Output is queued until released, then written at once.
    void holdOutput();
    void releaseOutput();
    // Says QUIT (with the reason, when there is one) after what is queued,
    // waiting no later than until, and closes the link; false when the side
    // is down.
    bool Disconnect(const std::string& reason = std::string(),
                    Clock::time_point until = Clock::time_point::max());

private:
    struct Handler {
        const char* command;
        void (IRCClient::*handle)(const IRCMessage& message, const std::string& line);
    };
    static const Handler registrationHandlers[];
    static const Handler sessionHandlers[];

    bool openLink();
    bool sendRegistrationLine(const std::string& line);
    bool answerIfPing(const std::string& line);
    void follow(const std::string& line);
    void followSasl(const IRCMessage& message, const std::string& line);
    void onWelcome(const IRCMessage& message, const std::string& line);
    void onNickInUse(const IRCMessage& message, const std::string& line);
    void onNickRefused(const IRCMessage& message, const std::string& line);
    void onError(const IRCMessage& message, const std::string& line);
    void onSupport(const IRCMessage& message, const std::string& line);
    void onJoin(const IRCMessage& message, const std::string& line);
    void onKick(const IRCMessage& message, const std::string& line);
    void onNickChange(const IRCMessage& message, const std::string& line);
    void onJoinRefused(const std::string& line);
    bool awaitsJoinAnswer() const;
    bool refusesOurJoin(const IRCMessage& message) const;
    bool isUs(const std::string& nick) const;
    bool isOurChannel(const std::string& channel) const;
    void joinChannel();
    void leaveChannel();
    std::size_t discardQueuedLines();
    void reportDroppedWhileAway();
    void writePacedLines();
    void heard();
    bool linkIsAlive(Clock::time_point now);
    Clock::time_point livenessDeadline() const;
    void giveUpLogIn(const std::string& why);
    void linkLost();
    void resetPacer();
    void noteOwnPrefix();

    IRCConfig settings;          // the settings in use
    std::string configuredNick;  // where every log-in starts
    IRCConnection connection;    // the server link
    SideState side;              // down, logging in, joining, in or out of the channel
    LinePacer pacer;             // chat lines waiting for the channel or their turn
    ReconnectSchedule joinSchedule;  // when to try JOIN again while kept out
    int nickRetries = 0;         // nick-in-use answers in this log-in
    std::size_t droppedWhileAway = 0;  // chat lines dropped since we left the channel
    std::string lastHeard;       // the server's last line during the log-in
    std::string ownUserHost;     // "!user@host" as the server shows us; empty until it has
    IRCServerView view;          // what the server told us that shapes our lines
    std::optional<SaslLogin> sasl;  // the SASL exchange of this log-in, when configured
    Clock::time_point lastHeardAt{};             // when the server last sent a line
    std::optional<Clock::time_point> pingSentAt;  // our own PING, while unanswered
};
