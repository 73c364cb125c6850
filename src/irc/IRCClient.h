// The bot's client on the IRC server: registration, nick retries, PING
// answers, and the lines the relay sends and receives.
#pragma once

#include <string>
#include <sys/select.h>

#include "frame/Config.h"
#include "irc/IRCConnection.h"
#include "irc/LinePacer.h"

#include <chrono>
#include <optional>

class IRCClient {
public:
    IRCClient();
    ~IRCClient();
    IRCClient(const IRCClient&) = delete;
    IRCClient& operator=(const IRCClient&) = delete;

    // Takes the settings unless nick, server, user name or channel is empty
    // or the port is outside 1..65535.
    bool setConfig(const IRCConfig& config);
    // Resolves the server, connects and registers. Blocks until done.
    bool Connect();
    // The next complete line from the server, PINGs answered on the way.
    bool getMessage(std::string& line);
    // Sends one line without waiting, or queues it for releasePaced when
    // pacing is on; dropped when not logged in.
    bool sendMessage(const std::string& text);
    // Writes the queued lines whose turn has come, and reports once what the
    // queue's bound made it drop since the last call.
    void releasePaced();
    // Time until the next queued line may go; nothing when none is queued.
    std::optional<std::chrono::steady_clock::duration> nextPacedLineIn() const;
    bool isConnected() const;
    // The settings in use; the nick is the one the server accepted.
    const IRCConfig& getConfig() const;
    int addToFdSet(fd_set* set) const;
    // True while output waits for the socket.
    bool hasQueuedOutput() const;
    void flushOutput();
    // Says QUIT and closes the link; false when not logged in.
    bool Disconnect();

private:
    void dropArrivedLines();
    bool sendRegistrationLine(const std::string& line);
    bool registerNick();
    void tryLongerNick();
    bool answerIfPing(const std::string& line);
    void followRegistration(const std::string& line);

    IRCConfig settings;        // the settings in use
    IRCConnection connection;  // the server link
    bool loggedIn;             // registration lines sent and the link open
    bool welcomed;             // the server's 001 has arrived on this link
    bool joinAgainOnWelcome;   // the first JOIN came too early to count
    LinePacer pacer;           // chat lines waiting for their turn

    void noteLinkState();
    void resetPacer();
};

// The numeric of a server reply (433 for ":server 433 * bot :in use"), or 0.
long ircReplyNumber(const std::string& line);

// What a reply seen right after our NICK means for the registration.
enum class NickReply { Other, InUse, Refused };
NickReply classifyNickReply(const std::string& line);
