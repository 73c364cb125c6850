// The bot's client on the Direct Connect hub: the NMDC login (key, nick
// validation, password, user information) and the commands the relay sends
// and receives.
#pragma once

#include <string>
#include <sys/select.h>

#include "dc/DCConnection.h"
#include "frame/Config.h"

class DCClient {
public:
    DCClient();
    ~DCClient();
    DCClient(const DCClient&) = delete;
    DCClient& operator=(const DCClient&) = delete;

    // Takes the settings unless nick, server or speed is empty or the port
    // is outside 1..65535.
    bool setConfig(const DCConfig& config);
    // Resolves the hub, connects and logs in. Blocks until done.
    bool Connect();
    // The next complete hub command, unescaped.
    bool getMessage(std::string& command);
    // Sends one command without waiting; dropped when not logged in.
    bool sendMessage(const std::string& command);
    bool isConnected() const;
    // The settings in use; the nick is the one the hub accepted.
    const DCConfig& getConfig() const;
    int addToFdSet(fd_set* set) const;
    bool hasQueuedOutput() const;
    void flushOutput();
    // Says "$Quit <nick>" and closes the link; false when not logged in.
    bool Disconnect();

private:
    // What the login does after one command of the hub.
    enum class Step { Wait, LoggedIn, Failed };
    struct LoginCommand {
        bool (*matches)(const std::string& command);
        Step (DCClient::*handle)(const std::string& command);
    };
    static const LoginCommand loginCommands[];

    Step onLock(const std::string& command);
    Step onNickRefused(const std::string& command);
    Step onPasswordRequest(const std::string& command);
    Step onPasswordRefused(const std::string& command);
    Step onHello(const std::string& command);
    Step dispatch(const std::string& command);
    bool sendAndCheck(const std::string& command);
    std::string myInfo() const;

    DCConfig settings;         // the settings in use
    DCConnection connection;   // the hub link
    bool loggedIn;             // the login completed and the link is open
};

// "$ValidateDenide" alone, or with the refused nick after a space.
bool isNickRefusal(const std::string& command);
