#include "dc/DCClient.h"

#include <algorithm>

#include "dc/lockToKey.h"
#include "frame/Log.h"
#include "frame/printable.h"
#include "frame/settingProblem.h"
#include "net/openServerLink.h"

namespace {

const char kNickRefused[] = "$ValidateDenide";

// Hubs commonly cap nicks near this; it leaves room for the "_" of retries.
// The speed and share-size fields are shorter still in any real client.
constexpr std::size_t kMaxNickBytes = 64;
constexpr std::size_t kMaxShortFieldBytes = 64;
// Far above what hubs accept in one $MyINFO field or password.
constexpr std::size_t kMaxFieldBytes = 255;
// A nick may hold neither the command separators nor a space.
constexpr std::string_view kNickBreakers{"\0\r\n $|", 6};
// '$' separates the fields of $MyINFO.
constexpr std::string_view kFieldBreakers{"\0\r\n$", 4};

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool isChatLine(const std::string& command) { return !command.empty() && command[0] == '<'; }

std::string firstSettingProblem(const DCConfig& config) {
    return settingProblem({
        {"dc_nick", config.dc_nick, kNickBreakers, kMaxNickBytes},
        {"dc_pass", config.dc_pass, kWordBreakers, kMaxFieldBytes},
        {"dc_description", config.dc_description, kFieldBreakers, kMaxFieldBytes},
        {"dc_speed", config.dc_speed, kFieldBreakers, kMaxShortFieldBytes},
        {"dc_email", config.dc_email, kFieldBreakers, kMaxFieldBytes},
        {"dc_share_size", config.dc_share_size, kFieldBreakers, kMaxShortFieldBytes},
        {"dc_server", config.dc_server, kWordBreakers, kMaxFieldBytes},
    });
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

DCClient::DCClient() = default;

DCClient::~DCClient() { Disconnect(); }

bool DCClient::setConfig(const DCConfig& config) {
    if (config.dc_nick.empty() || config.dc_server.empty() || config.dc_speed.empty() || config.dc_port == 0)
        return false;
    // Only the low 16 bits would reach the socket.
    if (config.dc_port < 1 || config.dc_port > 65535)
        return false;
    TlsSettings tls;
    std::string problem = firstSettingProblem(config);
    if (problem.empty())
        problem = tlsSettingsProblem({"dc", config.dc_tls, config.dc_tls_verify, std::string(), config.dc_server}, tls);
    if (!problem.empty()) {
        logMessage(Error, "DCClient::setConfig(): " + problem);
        return false;
    }
    connection.useTls(tls);
    settings = config;
    configuredNick = config.dc_nick;
    nickRetries = 0;
    return true;
}

bool DCClient::openLink() {
    // "DClient" is how the resolver's line has always named this client.
    if (!openServerLink(connection, settings.dc_server, settings.dc_port,
                        {"DClient::Connect()", "DCClient::Connect()", "dc_tls_verify", "hub"}))
        return false;
    connection.enableKeepAlive(kKeepAliveIdle, kKeepAliveInterval, kKeepAliveProbes);
    return true;
}

// The whole log-in, connect included, must end within the wait limit: a hub
// that chats on and on without a $Hello cannot hold the daemon.
bool DCClient::Connect() {
    side.enter(LinkState::LoggingIn);
    lastCommand.clear();
    lastChat.clear();
    connection.setDeadline(Clock::now() + Connection::waitLimit());
    const bool loggedIn = openLink() && logIn();
    connection.clearDeadline();
    if (!loggedIn) {
        connection.Disconnect();
        side.enter(LinkState::Down);
        return false;
    }
    side.enter(LinkState::InChannel);
    lastActivityAt = Clock::now();
    return true;
}

bool DCClient::logIn() {
    for (;;) {
        // A command that was complete when the hub closed the link is still
        // acted on: a nick refusal must lengthen the nick for the next login.
        std::string command;
        if (!connection.waitMessage(command)) {
            if (connection.deadlinePassed())
                logMessage(Error, "DCClient::Connect(): no log-in within " +
                                      std::to_string(Connection::waitLimit().count()) + " ms as \"" +
                                      settings.dc_nick + "\" (" + std::to_string(nickRetries) +
                                      " nick retries); the hub said last: \"" + printable(lastWords()) + "\"");
            else if (!lastChat.empty())
                logMessage(Warning, "DCClient::Connect(): the hub closed the link; it said last: \"" +
                                        printable(lastChat) + "\"");
            return false;
        }
        hear(command);
        switch (dispatch(command)) {
        case Step::Wait: break;
        case Step::LoggedIn: return true;
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

// Remembers what the hub said last (during the log-in also its last chat
// line, which usually says why it refuses us), and logs what tells why a
// link may end: a hub that is full or sends us elsewhere closes it next.
void DCClient::hear(const std::string& command) {
    // Only ever quoted, and quotes are cut: a 4 MiB command is not kept.
    lastCommand.assign(command, 0, kMaxQuotedPeerText + 1);
    if (!isChatLine(command)) {
        if (startsWith(command, "$HubIsFull") || startsWith(command, "$ForceMove"))
            logMessage(Warning, "DCClient: the hub says \"" + printable(command) + "\"");
    } else if (side.is(LinkState::LoggingIn)) {
        lastChat.assign(command, 0, kMaxQuotedPeerText + 1);
    }
}

std::string DCClient::lastWords() const { return lastChat.empty() ? lastCommand : lastChat; }

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
        logMessage(Error, "DCClient::Connect(): the hub sent a lock shorter than two bytes (\"" + printable(lock) +
                              "\"); closing the link");
        return Step::Failed;
    }
    if (!sendAndCheck("$Key " + lockToKey(lock)))
        return Step::Failed;
    // What the hub sent with its lock is not part of the login.
    std::string discarded;
    while (connection.readMessage(discarded))
        hear(discarded);
    if (!connection.isConnected())
        return Step::Failed;
    return sendAndCheck("$ValidateNick " + settings.dc_nick) ? Step::Wait : Step::Failed;
}

// The nick grows by one "_" per refusal, also across attempts (hubs that
// close the link after a refusal), but only so far: then it starts over.
DCClient::Step DCClient::onNickRefused(const std::string&) {
    if (nickRetries == kMaxNickRetries) {
        logMessage(Error, "DCClient::Connect(): the hub refused " + std::to_string(nickRetries + 1) +
                              " nicks, the last \"" + settings.dc_nick + "\"; it said last: \"" +
                              printable(lastWords()) + "\"");
        startNickOver();
        return Step::Failed;
    }
    logMessage(Warning, "Nickname \"" + settings.dc_nick + "\" already taken");
    settings.dc_nick += "_";
    ++nickRetries;
    logMessage(Notice, "Trying \"" + settings.dc_nick + "\"...");
    return sendAndCheck("$ValidateNick " + settings.dc_nick) ? Step::Wait : Step::Failed;
}

DCClient::Step DCClient::onPasswordRequest(const std::string&) {
    connection.sendMessage("$MyPass " + settings.dc_pass);
    return Step::Wait;
}

DCClient::Step DCClient::onPasswordRefused(const std::string&) {
    logMessage(Error, "Hub said that our password is incorrect...");
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

void DCClient::startNickOver() {
    settings.dc_nick = configuredNick;
    nickRetries = 0;
}

bool DCClient::getMessage(std::string& command) {
    if (!side.is(LinkState::InChannel))
        return false;
    if (connection.readMessage(command)) {
        lastActivityAt = Clock::now();
        hear(command);
        return true;
    }
    // Only once every command that arrived before the end has been handed
    // over does the side count as down.
    if (!connection.isConnected())
        linkLost();
    return false;
}

// A hub that ends the session often says why in a chat line just before.
// After a lost session the next log-in starts from the configured nick.
void DCClient::linkLost() {
    if (isChatLine(lastCommand))
        logMessage(Warning, "DCClient: the hub closed the link after saying \"" + printable(lastCommand) + "\"");
    startNickOver();
    side.enter(LinkState::Down);
}

bool DCClient::sendMessage(const std::string& command) {
    if (!side.is(LinkState::InChannel))
        return false;
    lastActivityAt = Clock::now();
    return connection.writeMessage(command);
}

void DCClient::tick() {
    if (!side.is(LinkState::InChannel) || Clock::now() - lastActivityAt < silenceBeforeKeepAlive())
        return;
    connection.writeMessage("");
    lastActivityAt = Clock::now();
}

std::optional<DCClient::Clock::duration> DCClient::nextWakeIn() const {
    if (side.is(LinkState::Down))
        return side.untilNextAttempt(Clock::now());
    // A link that closed while the side still counts as up: the next
    // getMessage says so.
    if (!connection.isConnected())
        return Clock::duration::zero();
    if (side.is(LinkState::InChannel))
        return std::max(Clock::duration::zero(), lastActivityAt + silenceBeforeKeepAlive() - Clock::now());
    return std::nullopt;
}

bool DCClient::isConnected() const { return side.is(LinkState::InChannel); }

const DCConfig& DCClient::getConfig() const { return settings; }

int DCClient::addToFdSet(fd_set* set) const { return connection.addToFdSet(set); }

int DCClient::addToFdSets(fd_set* readable, fd_set* writable, bool wantInput) const {
    return connection.addToFdSets(readable, writable, wantInput);
}

bool DCClient::hasPendingInput() const { return connection.hasPendingInput(); }

bool DCClient::hasQueuedOutput() const { return connection.hasQueuedOutput(); }

std::size_t DCClient::queuedOutputBytes() const { return connection.queuedOutputBytes(); }

void DCClient::holdOutput() { connection.holdOutput(); }

void DCClient::releaseOutput() { connection.releaseOutput(); }

void DCClient::flushOutput() { connection.flushOutput(); }

bool DCClient::Disconnect(Clock::time_point until) {
    if (!side.is(LinkState::InChannel))
        return false;
    connection.setDeadline(until);
    connection.sendMessage("$Quit " + settings.dc_nick);
    connection.Disconnect();
    side.enter(LinkState::Down);
    return true;
}
