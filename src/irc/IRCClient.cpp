#include "irc/IRCClient.h"

#include <algorithm>

#include "frame/Log.h"
#include "frame/printable.h"
#include "frame/settingProblem.h"
#include "net/openServerLink.h"

namespace {

// Numeric replies 400 to 599 are errors.
bool isErrorReply(std::string_view command) {
    return command.size() == 3 && (command[0] == '4' || command[0] == '5') && command[1] >= '0' &&
           command[1] <= '9' && command[2] >= '0' && command[2] <= '9';
}

// A registration line is at most 510 bytes; these leave room for the
// command word, the "_" a retried nick gains and the other parameters.
constexpr std::size_t kMaxNickBytes = 64;
constexpr std::size_t kMaxUserBytes = 64;
constexpr std::size_t kMaxTextBytes = 255;
// RFC 1459's limit; a PRIVMSG must still leave room for the text.
constexpr std::size_t kMaxChannelBytes = 200;
// A channel name ends at a space, a comma or a BEL.
constexpr std::string_view kChannelBreakers{"\0\r\n ,\a", 6};
// A key is one word of JOIN's key list.
constexpr std::string_view kKeyBreakers{"\0\r\n ,", 5};
// A SASL PLAIN payload separates its fields with NUL; base64 carries the rest.
constexpr std::string_view kSaslBreakers{"\0", 1};

std::string firstSettingProblem(const IRCConfig& config) {
    return settingProblem({
        {"irc_nick", config.irc_nick, kWordBreakers, kMaxNickBytes},
        {"irc_username", config.irc_username, kWordBreakers, kMaxUserBytes},
        {"irc_password", config.irc_password, kWordBreakers, kMaxTextBytes},
        {"irc_channel", config.irc_channel, kChannelBreakers, kMaxChannelBytes},
        {"irc_realname", config.irc_realname, kLineBreaksAndNul, kMaxTextBytes},
        {"irc_server", config.irc_server, kWordBreakers, kMaxTextBytes},
        {"irc_channel_key", config.irc_channel_key, kKeyBreakers, kMaxTextBytes},
        {"irc_sasl_user", config.irc_sasl_user, kSaslBreakers, kMaxTextBytes},
        {"irc_sasl_password", config.irc_sasl_password, kSaslBreakers, kMaxTextBytes},
    });
}

// SASL needs a user, and either a password (PLAIN) or a client certificate
// (EXTERNAL).
std::string saslProblem(const IRCConfig& config) {
    if (config.irc_sasl_user.empty() && !config.irc_sasl_password.empty())
        return "irc_sasl_password is set without irc_sasl_user";
    if (!config.irc_sasl_user.empty() && config.irc_sasl_password.empty() && config.irc_tls_cert.empty())
        return "irc_sasl_user needs irc_sasl_password, or irc_tls_cert for EXTERNAL";
    return std::string();
}

}  // namespace

// While registering, only the answers that decide the registration matter.
const IRCClient::Handler IRCClient::registrationHandlers[] = {
    {"001", &IRCClient::onWelcome},      {"433", &IRCClient::onNickInUse},
    {"432", &IRCClient::onNickRefused},  {"436", &IRCClient::onNickRefused},
    {"437", &IRCClient::onNickRefused},  {"ERROR", &IRCClient::onError},
};

// Once registered: what the server supports, our place in the channel and
// the name we go by.
const IRCClient::Handler IRCClient::sessionHandlers[] = {
    {"005", &IRCClient::onSupport},
    {"JOIN", &IRCClient::onJoin},
    {"KICK", &IRCClient::onKick},
    {"NICK", &IRCClient::onNickChange},
    {"ERROR", &IRCClient::onError},
};

IRCClient::IRCClient() { resetPacer(); }

IRCClient::~IRCClient() { Disconnect(); }

bool IRCClient::setConfig(const IRCConfig& config) {
    if (config.irc_nick.empty() || config.irc_server.empty() || config.irc_username.empty() ||
        config.irc_channel.empty() || config.irc_port == 0)
        return false;
    // Only the low 16 bits would reach the socket: 76667 would become 11131.
    if (config.irc_port < 1 || config.irc_port > 65535)
        return false;
    if (config.irc_burst_lines < 1 || config.irc_line_interval < 0 || config.irc_queue_max_age < 0)
        return false;
    TlsSettings tls;
    std::string problem = firstSettingProblem(config);
    if (problem.empty())
        problem = saslProblem(config);
    if (problem.empty())
        problem = tlsSettingsProblem({"irc", config.irc_tls, config.irc_tls_verify, config.irc_tls_cert,
                                      config.irc_server},
                                     tls);
    if (!problem.empty()) {
        logMessage(Error, "IRCClient::setConfig(): " + problem);
        return false;
    }
    connection.useTls(tls);
    settings = config;
    configuredNick = config.irc_nick;
    resetPacer();
    return true;
}

bool IRCClient::openLink() {
    return openServerLink(connection, settings.irc_server, settings.irc_port,
                          {"IRCClient::Connect()", "IRCClient::Connect()", "irc_tls_verify", "server"});
}

// Every log-in starts from the configured nick: a nick that gained "_"
// because its owner's ghost was still there is free again by now.
bool IRCClient::Connect() {
    side.enter(LinkState::LoggingIn);
    settings.irc_nick = configuredNick;
    nickRetries = 0;
    droppedWhileAway = 0;
    lastHeard.clear();
    view = IRCServerView();
    ownUserHost.clear();
    noteOwnPrefix();
    heard();
    resetPacer();
    sasl.reset();
    if (!settings.irc_sasl_user.empty())
        sasl.emplace(settings.irc_sasl_user, settings.irc_sasl_password);
    connection.setDeadline(side.attemptStartedAt() + Connection::waitLimit());
    const bool sent = openLink() && (!sasl || sendRegistrationLine(SaslLogin::openingLine())) &&
                      (settings.irc_password.empty() || sendRegistrationLine("PASS " + settings.irc_password)) &&
                      sendRegistrationLine("NICK " + settings.irc_nick) &&
                      sendRegistrationLine("USER " + settings.irc_username + " 0 * :" + settings.irc_realname);
    connection.clearDeadline();
    if (!sent) {
        connection.Disconnect();
        side.enter(LinkState::Down);
    }
    return sent;
}

bool IRCClient::sendRegistrationLine(const std::string& line) {
    connection.sendMessage(line);
    return connection.isConnected();
}

bool IRCClient::answerIfPing(const std::string& line) {
    if (line.compare(0, 4, "PING") != 0)
        return false;
    connection.writeMessage("PONG " + (line.size() > 5 ? line.substr(5) : std::string()));
    return true;
}

// The line is read straight into the caller's string; an answered PING may
// be left there when no other line follows.
bool IRCClient::getMessage(std::string& line) {
    if (side.is(LinkState::Down))
        return false;
    while (connection.readMessage(line)) {
        heard();
        if (answerIfPing(line))
            continue;
        follow(line);
        return true;
    }
    // Only once every line that arrived before the end has been handed over
    // does the side count as down.
    if (!connection.isConnected())
        linkLost();
    return false;
}

// One handler per command that changes our state; every line also goes on
// to the relay, where the Translator drops what is not channel chat.
void IRCClient::follow(const std::string& line) {
    const std::string_view command = ircCommandOf(line);
    const bool registering = side.is(LinkState::LoggingIn);
    if (registering)
        lastHeard.assign(line, 0, kMaxQuotedPeerText + 1);
    if (registering && sasl && !sasl->done() && SaslLogin::handles(command)) {
        followSasl(parseIRCMessage(line), line);
        return;
    }
    const auto dispatch = [&](const auto& handlers) {
        for (const Handler& handler : handlers)
            if (command == handler.command) {
                (this->*handler.handle)(parseIRCMessage(line), line);
                return true;
            }
        return false;
    };
    if (registering ? dispatch(registrationHandlers) : dispatch(sessionHandlers))
        return;
    if (!registering && awaitsJoinAnswer() && isErrorReply(command) && refusesOurJoin(parseIRCMessage(line)))
        onJoinRefused(line);
}

// The server holds the welcome back until the exchange ends with CAP END.
void IRCClient::followSasl(const IRCMessage& message, const std::string& line) {
    std::vector<std::string> replies;
    const SaslLogin::Progress progress = sasl->onMessage(message, line, replies);
    for (const std::string& reply : replies)
        connection.writeMessage(reply);
    if (progress == SaslLogin::Progress::Done)
        logMessage(Notice, std::string("SASL ") + sasl->mechanism() + " log-in as " + settings.irc_sasl_user +
                               " accepted");
    else if (progress == SaslLogin::Progress::Failed) {
        logMessage(Error, "IRCClient: SASL log-in as " + settings.irc_sasl_user + " failed: " + sasl->failure());
        giveUpLogIn("");
    }
}

// The welcome names us as the server knows us (it may have cut the nick).
void IRCClient::onWelcome(const IRCMessage& message, const std::string&) {
    if (!message.param(0).empty())
        settings.irc_nick = message.param(0);
    noteOwnPrefix();
    side.enter(LinkState::Joining);
    joinSchedule.startOver(Clock::now());
    joinChannel();
}

void IRCClient::onNickInUse(const IRCMessage&, const std::string& line) {
    if (nickRetries == kMaxNickRetries) {
        giveUpLogIn("the server refused " + std::to_string(nickRetries + 1) + " nicks, the last \"" +
                    settings.irc_nick + "\"; it said: \"" + printable(line) + "\"");
        return;
    }
    ++nickRetries;
    logMessage(Warning, "Nickname \"" + settings.irc_nick + "\" already in use");
    settings.irc_nick += "_";
    logMessage(Warning, "Trying \"" + settings.irc_nick + "\"");
    connection.writeMessage("NICK " + settings.irc_nick);
}

void IRCClient::onNickRefused(const IRCMessage&, const std::string& line) {
    logMessage(Error, "IRC server refused our nick with reply: " + printable(withoutPrefix(line)));
    giveUpLogIn("");
}

// The server says why it is about to close the link (a wrong password, a
// ban, a ping time-out); the close itself follows.
void IRCClient::onError(const IRCMessage&, const std::string& line) {
    logMessage(Warning, "IRC server closes the link: " + printable(line));
}

// The server's ISUPPORT tokens: only how it compares names matters here.
void IRCClient::onSupport(const IRCMessage& message, const std::string&) {
    const std::string token = "CASEMAPPING=";
    for (std::size_t i = 1; i + 1 < message.params.size(); ++i)
        if (message.params[i].compare(0, token.size(), token) == 0)
            view.caseMapping = caseMappingNamed(std::string_view(message.params[i]).substr(token.size()));
}

// Our JOIN as the server echoes it shows our whole prefix, which the server
// puts in front of every line of ours that others receive.
void IRCClient::onJoin(const IRCMessage& message, const std::string&) {
    if (!isUs(message.senderNick()) || !isOurChannel(message.param(0)))
        return;
    ownUserHost = message.prefix.substr(message.senderNick().size());
    noteOwnPrefix();
    if (side.is(LinkState::InChannel))
        return;
    reportDroppedWhileAway();
    logMessage(Notice, "Joined " + settings.irc_channel + " as " + settings.irc_nick);
    side.enter(LinkState::InChannel);
}

void IRCClient::onKick(const IRCMessage& message, const std::string&) {
    if (!isOurChannel(message.param(0)) || !isUs(message.param(1)))
        return;
    logMessage(Warning, "Kicked from " + settings.irc_channel + " by " + printable(message.senderNick()) + ": " +
                            printable(message.param(2)));
    leaveChannel();
    joinSchedule.startOver(Clock::now() + kRejoinPause);
}

void IRCClient::onNickChange(const IRCMessage& message, const std::string&) {
    if (!isUs(message.senderNick()) || message.param(0).empty())
        return;
    settings.irc_nick = message.param(0);
    noteOwnPrefix();
}

// Until the server has shown our user and host, the longest common ones.
void IRCClient::noteOwnPrefix() {
    const std::size_t userHostBytes = ownUserHost.empty() ? 1 + kLongUserBytes + 1 + kLongHostBytes : ownUserHost.size();
    view.ownPrefixBytes = 1 + settings.irc_nick.size() + userHostBytes + 1;
}

const IRCServerView& IRCClient::serverView() const { return view; }

// Banned, invite only, wrong key, full, registered users only...: the next
// JOIN waits for the join schedule.
void IRCClient::onJoinRefused(const std::string& line) {
    logMessage(Warning, "Cannot join " + settings.irc_channel + ": " + printable(withoutPrefix(line)));
    leaveChannel();
}

bool IRCClient::awaitsJoinAnswer() const { return side.is(LinkState::Joining) || side.is(LinkState::OutOfChannel); }

// An error reply about our channel while we are not in it answers our JOIN.
bool IRCClient::refusesOurJoin(const IRCMessage& message) const { return isOurChannel(message.param(1)); }

bool IRCClient::isUs(const std::string& nick) const {
    return ircNamesEqual(nick, settings.irc_nick, view.caseMapping);
}

bool IRCClient::isOurChannel(const std::string& channel) const {
    return ircNamesEqual(channel, settings.irc_channel, view.caseMapping);
}

// JOIN goes out at once, not behind queued chat. Should neither a
// confirmation nor a refusal come, the schedule has the next try ready.
void IRCClient::joinChannel() {
    connection.writeMessage("JOIN " + settings.irc_channel +
                            (settings.irc_channel_key.empty() ? std::string() : " " + settings.irc_channel_key));
    joinSchedule.failed(Clock::now());
}

// Chat for a channel we are kept out of is dropped, not kept for later.
void IRCClient::leaveChannel() {
    droppedWhileAway += discardQueuedLines();
    side.enter(LinkState::OutOfChannel);
}

// Empties the queue; the lines it held or had to drop at its bound.
std::size_t IRCClient::discardQueuedLines() {
    const std::size_t discarded = pacer.queuedLines() + pacer.takeDropped() + pacer.takeExpired();
    pacer.clear();
    return discarded;
}

void IRCClient::reportDroppedWhileAway() {
    if (droppedWhileAway > 0)
        logMessage(Warning, "IRCClient: dropped " + std::to_string(droppedWhileAway) + " lines for " +
                                settings.irc_channel + " while not in it");
    droppedWhileAway = 0;
}

bool IRCClient::sendMessage(const std::string& text) {
    switch (side.state()) {
    case LinkState::Down:
        return false;
    case LinkState::OutOfChannel:
        ++droppedWhileAway;
        return false;
    case LinkState::LoggingIn:
    case LinkState::Joining:
        pacer.push(text);
        return true;
    case LinkState::InChannel:
        break;
    }
    if (pacer.enabled() || pacer.queuedLines() > 0) {
        pacer.push(text);
        return true;
    }
    return connection.writeMessage(text);
}

void IRCClient::heard() {
    lastHeardAt = Clock::now();
    pingSentAt.reset();
}

// A link a NAT or a firewall cut silently looks up for ever: after a long
// silence we ask the server for a sign of life.
bool IRCClient::linkIsAlive(Clock::time_point now) {
    if (!pingSentAt) {
        if (now - lastHeardAt >= silenceBeforePing()) {
            connection.writeMessage("PING :" + settings.irc_nick);
            pingSentAt = now;
        }
        return true;
    }
    if (now - *pingSentAt < Connection::waitLimit())
        return true;
    logMessage(Warning, "IRCClient: no data from the server within " +
                            std::to_string(Connection::waitLimit().count()) + " ms of our PING; the link is dead");
    connection.Disconnect();
    linkLost();
    return false;
}

IRCClient::Clock::time_point IRCClient::livenessDeadline() const {
    return pingSentAt ? *pingSentAt + Connection::waitLimit() : lastHeardAt + silenceBeforePing();
}

void IRCClient::tick() {
    const Clock::time_point now = Clock::now();
    const bool overdue = now >= side.attemptStartedAt() + Connection::waitLimit();
    if (!side.is(LinkState::Down) && !side.is(LinkState::LoggingIn) && !linkIsAlive(now))
        return;
    switch (side.state()) {
    case LinkState::LoggingIn:
        if (overdue)
            giveUpLogIn("no welcome from the server within " + std::to_string(Connection::waitLimit().count()) +
                        " ms as \"" + settings.irc_nick + "\" (" + std::to_string(nickRetries) +
                        " nick retries); it said last: \"" + printable(lastHeard) + "\"");
        break;
    case LinkState::Joining:
        if (overdue) {
            logMessage(Warning, "No answer to JOIN " + settings.irc_channel);
            leaveChannel();
        }
        break;
    case LinkState::OutOfChannel:
        if (joinSchedule.due(now))
            joinChannel();
        break;
    case LinkState::InChannel:
        writePacedLines();
        break;
    case LinkState::Down:
        break;
    }
}

void IRCClient::writePacedLines() {
    std::string line;
    while (connection.isConnected() && pacer.popReady(Clock::now(), line))
        connection.writeMessage(line);
    const std::size_t dropped = pacer.takeDropped();
    if (dropped > 0)
        logMessage(Warning, "IRCClient::sendMessage(): more than " + std::to_string(LinePacer::kMaxQueuedLines) +
                                " lines or " + std::to_string(LinePacer::kMaxQueuedBytes) +
                                " bytes waiting for the server; dropped the " + std::to_string(dropped) +
                                " oldest");
    const std::size_t expired = pacer.takeExpired();
    if (expired > 0)
        logMessage(Warning, "IRCClient: dropped " + std::to_string(expired) + " lines that had waited more than " +
                                std::to_string(settings.irc_queue_max_age) + " s for their turn");
}

std::optional<IRCClient::Clock::duration> IRCClient::nextWakeIn() const {
    const Clock::time_point now = Clock::now();
    const Clock::time_point loginEnd = side.attemptStartedAt() + Connection::waitLimit();
    if (side.is(LinkState::Down))
        return side.untilNextAttempt(now);
    // A link that closed while the side still counts as up: the next
    // getMessage says so.
    if (!connection.isConnected())
        return Clock::duration::zero();
    if (side.is(LinkState::LoggingIn))
        return std::max(Clock::duration::zero(), loginEnd - now);
    Clock::duration wake = std::max(Clock::duration::zero(), livenessDeadline() - now);
    if (side.is(LinkState::Joining))
        wake = std::min(wake, std::max(Clock::duration::zero(), loginEnd - now));
    else if (side.is(LinkState::OutOfChannel))
        wake = std::min(wake, joinSchedule.untilDue(now));
    else if (const auto paced = pacer.nextReadyIn(now))
        wake = std::min(wake, *paced);
    return wake;
}

// One line says why; QUIT is said as a courtesy, and the next log-in waits
// for the schedule.
void IRCClient::giveUpLogIn(const std::string& why) {
    if (!why.empty())
        logMessage(Error, "IRCClient: log-in given up: " + why);
    connection.writeMessage("QUIT");
    connection.Disconnect();
    linkLost();
}

void IRCClient::linkLost() {
    const std::size_t waiting = discardQueuedLines();
    if (waiting > 0)
        logMessage(Warning, "IRCClient: the link to the server is gone; dropped " + std::to_string(waiting) +
                                " lines that were waiting for it");
    reportDroppedWhileAway();
    side.enter(LinkState::Down);
}

void IRCClient::resetPacer() {
    pacer.clear();
    pacer.setLimits(settings.irc_burst_lines, std::chrono::milliseconds(settings.irc_line_interval),
                    std::chrono::seconds(settings.irc_queue_max_age));
}

bool IRCClient::isConnected() const { return !side.is(LinkState::Down); }

const IRCConfig& IRCClient::getConfig() const { return settings; }

int IRCClient::addToFdSet(fd_set* set) const { return connection.addToFdSet(set); }

int IRCClient::addToFdSets(fd_set* readable, fd_set* writable, bool wantInput) const {
    return connection.addToFdSets(readable, writable, wantInput);
}

bool IRCClient::hasPendingInput() const { return connection.hasPendingInput(); }

bool IRCClient::hasQueuedOutput() const { return connection.hasQueuedOutput(); }

std::size_t IRCClient::queuedOutputBytes() const { return connection.queuedOutputBytes(); }

void IRCClient::holdOutput() { connection.holdOutput(); }

void IRCClient::releaseOutput() { connection.releaseOutput(); }

void IRCClient::flushOutput() { connection.flushOutput(); }

bool IRCClient::Disconnect(const std::string& reason, Clock::time_point until) {
    if (side.is(LinkState::Down))
        return false;
    connection.setDeadline(until);
    connection.sendMessage(reason.empty() ? std::string("QUIT") : "QUIT :" + reason);
    connection.Disconnect();
    discardQueuedLines();
    side.enter(LinkState::Down);
    return true;
}
