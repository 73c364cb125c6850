// The bot's client on the Direct Connect hub: the NMDC login (key, nick
// validation, password, user information) and the commands the relay sends
// and receives.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/select.h>

#include "dc/DCConnection.h"
#include "frame/Config.h"
#include "frame/SideState.h"

class DCClient {
public:
    using Clock = std::chrono::steady_clock;
    // Nick refusals taken before the nick starts over from the configured one.
    static constexpr int kMaxNickRetries = 8;
    // TCP keepalive on the hub link: probes after 2 minutes of idleness,
    // every 30 seconds, 4 of them, so that a dead path is noticed.
    static constexpr std::chrono::seconds kKeepAliveIdle{120};
    static constexpr std::chrono::seconds kKeepAliveInterval{30};
    static constexpr int kKeepAliveProbes = 4;
    // After this much silence both ways (2 wait limits: 2 minutes) we send
    // an empty command, which hubs accept, to keep NATs and firewalls open.
    static std::chrono::milliseconds silenceBeforeKeepAlive() { return Connection::waitLimit() * 2; }

    DCClient();
    ~DCClient();
    DCClient(const DCClient&) = delete;
    DCClient& operator=(const DCClient&) = delete;

    // Takes the settings unless one is missing, out of range, or holds what
    // cannot go on the wire (the reason is logged).
    bool setConfig(const DCConfig& config);
    // Resolves the hub, connects and logs in. Blocks until done, for at most
    // the connection's wait limit in all.
    bool Connect();
    // The next complete hub command, unescaped.
    bool getMessage(std::string& command);
    // Sends one command without waiting; dropped when not logged in.
    bool sendMessage(const std::string& command);
    // The work that waits for a time: the keep-alive after a silence.
    void tick();
    // Time until getMessage or tick has work or a new log-in is due.
    std::optional<Clock::duration> nextWakeIn() const;

    LinkState state() const { return side.state(); }
    bool isConnected() const;
    // The settings in use; the nick is the one the hub accepted.
    const DCConfig& getConfig() const;
    int addToFdSet(fd_set* set) const;
    // The socket in the sets the relay loop waits on, as Connection puts it.
    int addToFdSets(fd_set* readable, fd_set* writable, bool wantInput) const;
    // Input TLS has decrypted that select no longer reports.
    bool hasPendingInput() const;
    bool hasQueuedOutput() const;
    std::size_t queuedOutputBytes() const;
    void flushOutput();
    // Output is queued until released, then written at once.
    void holdOutput();
    void releaseOutput();
    // Says "$Quit <nick>" after what is queued, waiting no later than until,
    // and closes the link; false when not logged in.
    bool Disconnect(Clock::time_point until = Clock::time_point::max());

private:
    // What the login does after one command of the hub.
    enum class Step { Wait, LoggedIn, Failed };
    struct LoginCommand {
        bool (*matches)(const std::string& command);
        Step (DCClient::*handle)(const std::string& command);
    };
    static const LoginCommand loginCommands[];

    bool openLink();
    bool logIn();
    Step onLock(const std::string& command);
    Step onNickRefused(const std::string& command);
    Step onPasswordRequest(const std::string& command);
    Step onPasswordRefused(const std::string& command);
    Step onHello(const std::string& command);
    Step dispatch(const std::string& command);
    bool sendAndCheck(const std::string& command);
    std::string myInfo() const;
    void hear(const std::string& command);
    std::string lastWords() const;
    void startNickOver();
    void linkLost();

    DCConfig settings;           // the settings in use
    std::string configuredNick;  // where the nick starts over
    DCConnection connection;     // the hub link
    SideState side;              // down, logging in, or in the main chat
    int nickRetries = 0;         // "_" added to the configured nick so far
    std::string lastCommand;     // the hub's last command on this link
    std::string lastChat;        // its last main-chat line on this link
    Clock::time_point lastActivityAt{};  // when a command last went either way
};

// "$ValidateDenide" alone, or with the refused nick after a space.
bool isNickRefusal(const std::string& command);
