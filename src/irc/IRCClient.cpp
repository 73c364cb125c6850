#include "irc/IRCClient.h"

#include <cstdlib>

#include "frame/Log.h"
#include "net/ServerAddress.h"

namespace {

constexpr long kWelcome = 1;
constexpr long kNicknameInUse = 433;
constexpr long kErroneousNickname = 432;
constexpr long kNickCollision = 436;
constexpr long kUnavailableResource = 437;
constexpr long kNotRegistered = 451;

const ServerAddress kServerAddress{"IRCClient::Connect(): gethostbyname(3) failed: ",
                                   "IRCClient::Connect(): unknown address family",
                                   "IRCClient::Connect(): cann't connect to requested address"};

// The line without its ":prefix " (a prefixed line without a space stays).
std::string withoutPrefix(const std::string& line) {
    if (line.empty() || line[0] != ':')
        return line;
    const std::size_t space = line.find(' ');
    return space == std::string::npos ? line : line.substr(space + 1);
}

}  // namespace

long ircReplyNumber(const std::string& line) {
    return std::strtol(withoutPrefix(line).c_str(), nullptr, 10);
}

NickReply classifyNickReply(const std::string& line) {
    const long number = ircReplyNumber(line);
    if (number == kNicknameInUse)
        return NickReply::InUse;
    if (number == kErroneousNickname || number == kNickCollision || number == kUnavailableResource)
        return NickReply::Refused;
    return NickReply::Other;
}

IRCClient::IRCClient() : loggedIn(false), welcomed(false), joinAgainOnWelcome(false) { resetPacer(); }

IRCClient::~IRCClient() { Disconnect(); }

bool IRCClient::setConfig(const IRCConfig& config) {
    if (config.irc_nick.empty() || config.irc_server.empty() || config.irc_username.empty() ||
        config.irc_channel.empty() || config.irc_port == 0)
        return false;
    // Only the low 16 bits would reach the socket: 76667 would become 11131.
    if (config.irc_port < 1 || config.irc_port > 65535)
        return false;
    if (config.irc_burst_lines < 1 || config.irc_line_interval < 0)
        return false;
    settings = config;
    resetPacer();
    return true;
}

bool IRCClient::Connect() {
    if (!kServerAddress.connect(connection, settings.irc_server, settings.irc_port))
        return false;
    welcomed = false;
    joinAgainOnWelcome = false;
    resetPacer();
    dropArrivedLines();
    if (!settings.irc_password.empty() && !sendRegistrationLine("PASS " + settings.irc_password))
        return false;
    if (!registerNick())
        return false;
    if (!sendRegistrationLine("USER " + settings.irc_username + " 0 * :" + settings.irc_realname))
        return false;
    if (!sendRegistrationLine("JOIN " + settings.irc_channel))
        return false;
    loggedIn = true;
    return true;
}

// Lines that arrived before we said anything are not for us, but a PING
// among them still wants its answer.
void IRCClient::dropArrivedLines() {
    std::string line;
    while (connection.readMessage(line))
        answerIfPing(line);
}

bool IRCClient::sendRegistrationLine(const std::string& line) {
    connection.sendMessage(line);
    return connection.isConnected();
}

// Sends NICK and looks once at what has already come back: a nick in use is
// retried with one more "_", a refused nick ends the registration.
bool IRCClient::registerNick() {
    for (;;) {
        if (!sendRegistrationLine("NICK " + settings.irc_nick))
            return false;
        std::string line;
        bool gotLine = connection.readMessage(line);
        while (gotLine && answerIfPing(line))
            gotLine = connection.readMessage(line);
        if (!gotLine)
            return true;
        switch (classifyNickReply(line)) {
        case NickReply::InUse:
            tryLongerNick();
            continue;
        case NickReply::Refused:
            logMessage(Error, "IRC server refused our nick with reply: " + withoutPrefix(line));
            return false;
        case NickReply::Other:
            return true;
        }
    }
}

void IRCClient::tryLongerNick() {
    logMessage(Warning, "Nickname \"" + settings.irc_nick + "\" already in use");
    settings.irc_nick += "_";
    logMessage(Warning, "Trying \"" + settings.irc_nick + "\"");
}

bool IRCClient::answerIfPing(const std::string& line) {
    if (line.compare(0, 4, "PING") != 0)
        return false;
    connection.writeMessage("PONG " + (line.size() > 5 ? line.substr(5) : std::string()));
    return true;
}

// Until the welcome, the server may still refuse our nick (its answer comes a
// round trip after the NICK) or our JOIN (sent before registration was done).
void IRCClient::followRegistration(const std::string& line) {
    if (welcomed)
        return;
    const long number = ircReplyNumber(line);
    if (number == kNicknameInUse) {
        tryLongerNick();
        connection.writeMessage("NICK " + settings.irc_nick);
        joinAgainOnWelcome = true;
    } else if (number == kNotRegistered) {
        joinAgainOnWelcome = true;
    } else if (number == kWelcome) {
        welcomed = true;
        if (joinAgainOnWelcome)
            connection.writeMessage("JOIN " + settings.irc_channel);
    }
}

bool IRCClient::getMessage(std::string& line) {
    if (!loggedIn)
        return false;
    std::string next;
    bool got;
    while ((got = connection.readMessage(next)) && answerIfPing(next)) {
    }
    if (got) {
        followRegistration(next);
        line.swap(next);
    }
    noteLinkState();
    return got;
}

bool IRCClient::sendMessage(const std::string& text) {
    if (!loggedIn)
        return false;
    if (pacer.enabled()) {
        pacer.push(text);
        return true;
    }
    const bool result = connection.writeMessage(text);
    noteLinkState();
    return result;
}

void IRCClient::releasePaced() {
    std::string line;
    while (loggedIn && pacer.popReady(LinePacer::Clock::now(), line)) {
        connection.writeMessage(line);
        noteLinkState();
    }
    const std::size_t dropped = pacer.takeDropped();
    if (dropped > 0)
        logMessage(Warning, "IRCClient::sendMessage(): more than " + std::to_string(LinePacer::kMaxQueuedLines) +
                                " lines or " + std::to_string(LinePacer::kMaxQueuedBytes) +
                                " bytes waiting for the server; dropped the " + std::to_string(dropped) +
                                " oldest");
}

std::optional<std::chrono::steady_clock::duration> IRCClient::nextPacedLineIn() const {
    if (!loggedIn)
        return std::nullopt;
    return pacer.nextReadyIn(LinePacer::Clock::now());
}

// Chat for a link that is gone is dropped, not kept for the next one.
void IRCClient::noteLinkState() {
    if (connection.isConnected())
        return;
    loggedIn = false;
    pacer.clear();
}

void IRCClient::resetPacer() {
    pacer.clear();
    pacer.setLimits(settings.irc_burst_lines, std::chrono::milliseconds(settings.irc_line_interval));
}

bool IRCClient::isConnected() const { return loggedIn; }

const IRCConfig& IRCClient::getConfig() const { return settings; }

int IRCClient::addToFdSet(fd_set* set) const { return connection.addToFdSet(set); }

bool IRCClient::hasQueuedOutput() const { return connection.hasQueuedOutput(); }

void IRCClient::flushOutput() {
    connection.flushOutput();
    noteLinkState();
}

bool IRCClient::Disconnect() {
    if (!loggedIn)
        return false;
    connection.sendMessage("QUIT");
    connection.Disconnect();
    loggedIn = false;
    pacer.clear();
    return true;
}
