#include "dc/DCClient.h"

#include "dc/lockToKey.h"
#include "frame/Log.h"
#include "net/ServerAddress.h"

namespace {

const ServerAddress kHubAddress{"DClient::Connect(): gethostbyname(3) failed: ",
                                "DCClient::Connect(): unknown address family",
                                "DCClient::Connect(): cann't connect to requested address"};
const char kNickRefused[] = "$ValidateDenide";

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

}  // namespace

bool isNickRefusal(const std::string& command) {
    // Real hubs name the refused nick after the word.
    return command == kNickRefused || startsWith(command, "$ValidateDenide ");
}

// Tested in this order; the first that matches decides.
const DCClient::LoginCommand DCClient::loginCommands[] = {
    {[](const std::string& c) { return startsWith(c, "$Lock "); }, &DCClient::onLock},
    {isNickRefusal, &DCClient::onNickRefused},
    {[](const std::string& c) { return c == "$GetPass"; }, &DCClient::onPasswordRequest},
    {[](const std::string& c) { return c == "$BadPass"; }, &DCClient::onPasswordRefused},
    {[](const std::string& c) { return startsWith(c, "$Hello "); }, &DCClient::onHello},
};

DCClient::DCClient() : loggedIn(false) {}

DCClient::~DCClient() { Disconnect(); }

bool DCClient::setConfig(const DCConfig& config) {
    if (config.dc_nick.empty() || config.dc_server.empty() || config.dc_speed.empty() || config.dc_port == 0)
        return false;
    // Only the low 16 bits would reach the socket.
    if (config.dc_port < 1 || config.dc_port > 65535)
        return false;
    settings = config;
    return true;
}

bool DCClient::Connect() {
    if (!kHubAddress.connect(connection, settings.dc_server, settings.dc_port))
        return false;
    for (;;) {
        // A command that was complete when the hub closed the link is still
        // acted on: a nick refusal must lengthen the nick for the next login.
        std::string command;
        if (!connection.waitMessage(command))
            return false;
        switch (dispatch(command)) {
        case Step::Wait: break;
        case Step::LoggedIn: loggedIn = true; return true;
        case Step::Failed: return false;
        }
    }
}

DCClient::Step DCClient::dispatch(const std::string& command) {
    for (const LoginCommand& entry : loginCommands)
        if (entry.matches(command))
            return (this->*entry.handle)(command);
    return Step::Wait;
}

bool DCClient::sendAndCheck(const std::string& command) {
    connection.sendMessage(command);
    return connection.isConnected();
}

DCClient::Step DCClient::onLock(const std::string& command) {
    std::string lock = command.substr(6);
    const std::size_t space = lock.find(' ');
    if (space != std::string::npos)
        lock.erase(space);
    if (lock.size() < 2) {
        logMessage(Error, "DCClient::Connect(): the hub sent a lock shorter than two bytes (\"" + lock +
                              "\"); closing the link");
        connection.Disconnect();
        return Step::Failed;
    }
    if (!sendAndCheck("$Key " + lockToKey(lock)))
        return Step::Failed;
    // What the hub sent with its lock is not part of the login.
    std::string discarded;
    while (connection.readMessage(discarded)) {
    }
    if (!connection.isConnected())
        return Step::Failed;
    return sendAndCheck("$ValidateNick " + settings.dc_nick) ? Step::Wait : Step::Failed;
}

DCClient::Step DCClient::onNickRefused(const std::string&) {
    logMessage(Warning, "Nickname \"" + settings.dc_nick + "\" already taken");
    settings.dc_nick += "_";
    logMessage(Notice, "Trying \"" + settings.dc_nick + "\"...");
    return sendAndCheck("$ValidateNick " + settings.dc_nick) ? Step::Wait : Step::Failed;
}

DCClient::Step DCClient::onPasswordRequest(const std::string&) {
    connection.sendMessage("$MyPass " + settings.dc_pass);
    return Step::Wait;
}

DCClient::Step DCClient::onPasswordRefused(const std::string&) {
    logMessage(Error, "Hub said that our password is incorrect...");
    connection.Disconnect();
    return Step::Failed;
}

DCClient::Step DCClient::onHello(const std::string& command) {
    // The hub may hand us another nick than we asked for; an empty one it
    // cannot mean.
    const std::string nick = command.substr(7);
    if (!nick.empty())
        settings.dc_nick = nick;
    connection.writeMessage("$Version 1,0096");
    if (!connection.isConnected())
        return Step::Failed;
    return sendAndCheck(myInfo()) ? Step::LoggedIn : Step::Failed;
}

std::string DCClient::myInfo() const {
    std::string info = "$MyINFO $ALL " + settings.dc_nick + " " + settings.dc_description + "$ $" +
                       settings.dc_speed;
    info += static_cast<char>(settings.dc_speed_val & 0xFF);
    info += "$" + settings.dc_email + "$" + settings.dc_share_size + "$";
    return info;
}

bool DCClient::getMessage(std::string& command) {
    if (!loggedIn)
        return false;
    const bool got = connection.readMessage(command);
    if (!connection.isConnected())
        loggedIn = false;
    return got;
}

bool DCClient::sendMessage(const std::string& command) {
    if (!loggedIn)
        return false;
    const bool result = connection.writeMessage(command);
    if (!connection.isConnected())
        loggedIn = false;
    return result;
}

bool DCClient::isConnected() const { return loggedIn; }

const DCConfig& DCClient::getConfig() const { return settings; }

int DCClient::addToFdSet(fd_set* set) const { return connection.addToFdSet(set); }

bool DCClient::hasQueuedOutput() const { return connection.hasQueuedOutput(); }

void DCClient::flushOutput() {
    connection.flushOutput();
    if (!connection.isConnected())
        loggedIn = false;
}

bool DCClient::Disconnect() {
    if (!loggedIn)
        return false;
    connection.sendMessage("$Quit " + settings.dc_nick);
    connection.Disconnect();
    loggedIn = false;
    return true;
}
