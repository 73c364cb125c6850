#include "irc/IRCClient.h"

#include <algorithm>
#include <iterator>

#include "frame/Log.h"
#include "frame/printable.h"
#include "frame/yesNo.h"
#include "translator/utf8.h"

namespace {

constexpr std::string_view kAction = "\x01" "ACTION";
// A CTCP ACTION adds "\x01ACTION " and "\x01" around the text.
constexpr std::size_t kActionWrapping = 9;

const ClientNames kIrcNames{"IRCClient", "IRCClient::Connect()", "IRC", "server", "irc_tls_verify"};

// Numeric replies 400 to 599 are errors.
bool isErrorReply(std::string_view command) {
    return command.size() == 3 && (command[0] == '4' || command[0] == '5') && command[1] >= '0' &&
           command[1] <= '9' && command[2] >= '0' && command[2] <= '9';
}

}  // namespace

// While registering, only the answers that decide the registration matter.
const IRCClient::Handler IRCClient::registrationHandlers[] = {
    {"PING", &IRCClient::onPing},
    {"001", &IRCClient::onWelcome},
    {"433", &IRCClient::onNickInUse},
    {"432", &IRCClient::onNickRefused},
    {"436", &IRCClient::onNickRefused},
    {"437", &IRCClient::onNickRefused},
};

// Once registered: what the server supports, our place in the channel and
// the name we go by.
const IRCClient::Handler IRCClient::sessionHandlers[] = {
    {"PING", &IRCClient::onPing},
    {"005", &IRCClient::onSupport},
    {"JOIN", &IRCClient::onJoin},
    {"KICK", &IRCClient::onKick},
    {"NICK", &IRCClient::onNickChange},
    {"FAIL", &IRCClient::onFail},
};

IRCClient::IRCClient() : ChatClient(connection, kIrcNames) { resetPacer(); }

IRCClient::~IRCClient() {
    sayGoodbye("");
    close();
}

void IRCClient::setConfig(const IRCConfig& config) {
    settings = config;
    configuredNick = config.irc_nick;
    privmsgHead = "PRIVMSG " + settings.irc_channel + " :";
    relaymsgWanted = parseYesNo(config.irc_relaymsg).value_or(false);
    relayed.setSuffix(config.irc_relaymsg_suffix);
    setServer(config.irc_server, config.irc_port,
              tlsSettingsFrom(config.irc_tls, config.irc_tls_verify, config.irc_server, config.irc_tls_cert));
    resetPacer();
}

// Every log-in starts from the configured nick: a nick that gained "_"
// because its owner's ghost was still there is free again by now.
void IRCClient::onAttemptStart() {
    settings.irc_nick = configuredNick;
    nickRetries = 0;
    view = IRCServerView();
    ownUserHost.clear();
    noteOwnPrefix();
    heard(currentTime());
    resetPacer();
    // The channel's refusals are spaced as the server's are.
    const ReconnectSchedule& delays = side.reconnectSchedule();
    joinSchedule.setDelays(delays.firstDelay(), delays.longestDelay());
    caps.reset();
    std::optional<SaslLogin> sasl;
    if (!settings.irc_sasl_user.empty())
        sasl.emplace(settings.irc_sasl_user, settings.irc_sasl_password);
    if (sasl || relaymsgWanted)
        caps.emplace(std::move(sasl), relaymsgWanted);
    // Relayed nicks are asked for again at every log-in.
    relayed.startOver();
}

void IRCClient::onLinkOpen() {
    if (caps)
        connection.writeMessage(CapNegotiation::openingLine());
    if (!settings.irc_password.empty())
        connection.writeMessage("PASS " + settings.irc_password);
    connection.writeMessage("NICK " + settings.irc_nick);
    connection.writeMessage("USER " + settings.irc_username + " 0 * :" + settings.irc_realname);
}

// One handler per command that changes our state; a channel message is chat.
bool IRCClient::onMessage(const std::string& line, ChatMessage& chat) {
    heard(currentTime());
    currentLine = line;
    const IRCMessage message = parseIRCMessage(line);
    if (side.is(LinkState::LoggingIn)) {
        if (caps && !caps->done() && caps->handles(message.command)) {
            followCaps(message, line);
            // A server that ignored the negotiation welcomes us all the same.
            if (!caps->done() || message.command != "001")
                return false;
        }
        dispatch(std::begin(registrationHandlers), std::end(registrationHandlers), message);
        return false;
    }
    // Who comes and goes is kept, and told when it is another user.
    const bool presence = readPresence(message, chat);
    if (dispatch(std::begin(sessionHandlers), std::end(sessionHandlers), message) || presence)
        return presence;
    if (message.is("PRIVMSG")) {
        if (!isOurRelayedLine(message))
            return readChat(message, chat);
        relayed.answered();
        return false;
    }
    if (awaitsJoinAnswer() && isErrorReply(message.command) && isOurChannel(message.param(1)))
        onJoinRefused(message);
    return false;
}

bool IRCClient::dispatch(const Handler* begin, const Handler* end, const IRCMessage& message) {
    for (const Handler* handler = begin; handler != end; ++handler)
        if (message.is(handler->command)) {
            (this->*handler->handle)(message);
            return true;
        }
    return false;
}

// ":nick!user@host PRIVMSG <our channel> :text", a CTCP ACTION as an action;
// other CTCP requests (VERSION, PING...) are for IRC clients, not people. A
// PRIVMSG to the bot is for the bot, CTCP requests included.
bool IRCClient::readChat(const IRCMessage& message, ChatMessage& chat) const {
    if (message.paramCount != 2 || !message.fromUser())
        return false;
    // IRC text is made UTF-8 here, once, before it goes anywhere.
    std::string_view text = readAsUtf8(message.param(1), textUtf8);
    if (isUs(message.param(0))) {
        chat.speaker = readAsUtf8(message.senderNick(), speakerUtf8);
        chat.text = text;
        chat.kind = ChatKind::Private;
        return true;
    }
    if (!isOurChannel(message.param(0)))
        return false;
    const bool action = text.compare(0, kAction.size(), kAction) == 0 &&
                        (text.size() == kAction.size() || text[kAction.size()] == ' ' || text[kAction.size()] == '\x01');
    if (!text.empty() && text[0] == '\x01' && !action)
        return false;
    if (action) {
        text.remove_prefix(std::min(text.size(), kAction.size() + 1));
        if (!text.empty() && text.back() == '\x01')
            text.remove_suffix(1);
    }
    chat.speaker = readAsUtf8(message.senderNick(), speakerUtf8);
    chat.text = text;
    chat.action = action;
    return true;
}

// Joins, parts, quits, kicks and renames of others in the channel, and the
// names the server lists after our JOIN. True for a coming or going to tell.
bool IRCClient::readPresence(const IRCMessage& message, ChatMessage& chat) {
    const std::string_view sender = message.senderNick();
    if (message.is("353")) {
        if (isOurChannel(message.param(2)))
            addNames(message.param(3));
        return false;
    }
    if (message.is("NICK")) {
        channelMembers.rename(sender, message.param(0));
        return false;
    }
    ChatKind kind;
    if (message.is("JOIN") && isOurChannel(message.param(0)) && !isUs(sender)) {
        channelMembers.add(sender);
        kind = ChatKind::Joined;
    } else if (message.is("PART") && isOurChannel(message.param(0)) && channelMembers.remove(sender)) {
        kind = ChatKind::Left;
    } else if (message.is("QUIT") && channelMembers.remove(sender)) {
        kind = ChatKind::Quit;
    } else if (message.is("KICK") && isOurChannel(message.param(0)) && channelMembers.remove(message.param(1))) {
        chat.speaker = message.param(1);
        chat.kind = ChatKind::Kicked;
        return side.is(LinkState::InChannel);
    } else {
        return false;
    }
    chat.speaker = sender;
    chat.kind = kind;
    return side.is(LinkState::InChannel);
}

// "@alice +bob carol": the modes a server puts before a nick are not part
// of it.
void IRCClient::addNames(std::string_view names) {
    constexpr std::string_view kModePrefixes = "~&@%+!";
    std::size_t start = 0;
    while (start < names.size()) {
        const std::size_t end = std::min(names.find(' ', start), names.size());
        std::string_view nick = names.substr(start, end - start);
        nick.remove_prefix(std::min(nick.find_first_not_of(kModePrefixes), nick.size()));
        if (!nick.empty() && !isUs(nick))
            channelMembers.add(nick);
        start = end + 1;
    }
}

// Answers go as NOTICEs, which no client or bot answers in turn, paced
// with the chat.
void IRCClient::sendPrivate(std::string_view nick, const std::vector<std::string>& lines) {
    if (!side.is(LinkState::InChannel))
        return;
    for (const std::string& line : lines)
        pacer.push("NOTICE " + std::string(nick) + " :" + line, currentTime(), kAnswerLine);
    writePacedLines();
}

// The server holds the welcome back until the exchange ends with CAP END.
void IRCClient::followCaps(const IRCMessage& message, std::string_view line) {
    std::vector<std::string> replies;
    const CapNegotiation::Progress progress = caps->onMessage(message, line, replies);
    for (const std::string& reply : replies)
        connection.writeMessage(reply);
    if (progress == CapNegotiation::Progress::Done)
        noteCapabilities();
    else if (progress == CapNegotiation::Progress::Failed)
        giveUp("SASL log-in as " + settings.irc_sasl_user + " failed: " + caps->failure());
}

// The separator a relayed nick takes is the first the server lists.
void IRCClient::noteCapabilities() {
    if (const std::optional<SaslLogin>& sasl = caps->saslLogin())
        logMessage(Notice, std::string("SASL ") + sasl->mechanism() + " log-in as " + settings.irc_sasl_user +
                               " accepted");
    if (!relaymsgWanted)
        return;
    if (relayed.grant(caps->relaySeparators()))
        logMessage(Notice, "IRCClient: the server lets hub users speak under their own nicks, as \"" +
                               relayed.nickOf("carol") + "\" for carol");
    else if (relayLines.admits(Warning))
        logMessage(Warning, "IRCClient: hub chat goes out as the bot's until the next log-in: " + caps->relayRefusal());
}

// Whatever its prefix, what follows the PING comes back byte for byte.
void IRCClient::onPing(const IRCMessage& message) {
    const std::size_t commandEnd = static_cast<std::size_t>(message.command.data() - currentLine.data()) +
                                   message.command.size();
    std::string_view parameters = currentLine.substr(commandEnd);
    if (!parameters.empty())
        parameters.remove_prefix(1);
    connection.writeMessage("PONG " + std::string(parameters));
}

// The welcome names us as the server knows us (it may have cut the nick).
void IRCClient::onWelcome(const IRCMessage& message) {
    if (!message.param(0).empty())
        settings.irc_nick = message.param(0);
    noteOwnPrefix();
    enter(LinkState::Joining);
    joinSchedule.startOver(Clock::now());
    joinChannel();
}

void IRCClient::onNickInUse(const IRCMessage&) {
    if (nickRetries == kMaxNickRetries) {
        giveUp("the server refused " + std::to_string(nickRetries + 1) + " nicks, the last \"" + settings.irc_nick +
               "\"; it said: \"" + printable(currentLine) + "\"");
        return;
    }
    ++nickRetries;
    logMessage(Warning, "Nickname \"" + settings.irc_nick + "\" already in use");
    settings.irc_nick += "_";
    logMessage(Warning, "Trying \"" + settings.irc_nick + "\"");
    connection.writeMessage("NICK " + settings.irc_nick);
}

void IRCClient::onNickRefused(const IRCMessage&) {
    giveUp("IRC server refused our nick with reply: " + printable(withoutPrefix(currentLine)));
}

// The server's ISUPPORT tokens: how it compares names, and how long a
// nick it takes.
void IRCClient::onSupport(const IRCMessage& message) {
    constexpr std::string_view caseToken = "CASEMAPPING=";
    constexpr std::string_view nickToken = "NICKLEN=";
    for (std::size_t i = 1; i + 1 < message.paramCount; ++i) {
        const std::string_view token = message.params[i];
        if (token.compare(0, caseToken.size(), caseToken) == 0)
            view.caseMapping = caseMappingNamed(token.substr(caseToken.size()));
        else if (token.compare(0, nickToken.size(), nickToken) == 0)
            relayed.setNickLength(parseInt32(std::string(token.substr(nickToken.size()))));
    }
}

// Our JOIN as the server echoes it shows our whole prefix, which the server
// puts in front of every line of ours that others receive.
void IRCClient::onJoin(const IRCMessage& message) {
    if (!isUs(message.senderNick()) || !isOurChannel(message.param(0)))
        return;
    ownUserHost = std::string(message.prefix.substr(message.senderNick().size()));
    noteOwnPrefix();
    if (side.is(LinkState::InChannel))
        return;
    // The server lists who is there next.
    channelMembers.clear();
    joinLines.log(Notice, "Joined " + settings.irc_channel + " as " + settings.irc_nick);
    enter(LinkState::InChannel);
}

void IRCClient::onKick(const IRCMessage& message) {
    if (!isOurChannel(message.param(0)) || !isUs(message.param(1)))
        return;
    if (kickLines.admits(Warning))
        logMessage(Warning, "Kicked from " + settings.irc_channel + " by " + printable(message.senderNick()) + ": " +
                                printable(message.param(2)));
    leaveChannel();
    const Clock::duration pause = std::min<Clock::duration>(kRejoinPause, side.reconnectSchedule().firstDelay());
    joinSchedule.startOver(Clock::now() + pause);
}

void IRCClient::onNickChange(const IRCMessage& message) {
    if (!isUs(message.senderNick()) || message.param(0).empty())
        return;
    settings.irc_nick = std::string(message.param(0));
    noteOwnPrefix();
}

// Banned, invite only, wrong key, full, registered users only...: the next
// JOIN waits for the join schedule.
void IRCClient::onJoinRefused(const IRCMessage&) {
    if (joinLines.admits(Warning))
        logMessage(Warning, "Cannot join " + settings.irc_channel + ": " + printable(withoutPrefix(currentLine)));
    leaveChannel();
}

bool IRCClient::awaitsJoinAnswer() const { return side.is(LinkState::Joining) || side.is(LinkState::OutOfChannel); }

bool IRCClient::isUs(std::string_view nick) const { return sameNick(nick, settings.irc_nick); }

bool IRCClient::isOurChannel(std::string_view channel) const {
    return ircNamesEqual(channel, settings.irc_channel, view.caseMapping);
}

bool IRCClient::sameNick(std::string_view a, std::string_view b) const { return ircNamesEqual(a, b, view.caseMapping); }

// Until the server has shown our user and host, the longest common ones.
void IRCClient::noteOwnPrefix() {
    const std::size_t userHostBytes = ownUserHost.empty() ? 1 + kLongUserBytes + 1 + kLongHostBytes : ownUserHost.size();
    view.ownPrefixBytes = 1 + settings.irc_nick.size() + userHostBytes + 1;
}

// What others receive of our line is our prefix, the PRIVMSG head and the
// text (wrapped as an action): the text gets what is left of the line.
std::size_t IRCClient::chatRoom(bool action) const {
    const std::size_t taken = view.ownPrefixBytes + privmsgHead.size() + (action ? kActionWrapping : 0);
    return taken < kMaxIrcLineBody ? kMaxIrcLineBody - taken : 0;
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
    channelMembers.clear();
    drops.outOfChannel += pacer.queuedLines();
    countDropped(discardQueuedLines());
    enter(LinkState::OutOfChannel);
}

// Empties the queue; the lines it held or had to drop at its bound.
std::size_t IRCClient::discardQueuedLines() { return pacer.discardAll(); }

// Chat waits in the queue during the log-in and goes out, paced, once we
// are in the channel. With relayed nicks wanted, a line someone else said
// waits held: whether it goes out in the speaker's name is decided when it
// goes.
bool IRCClient::takeChat(std::string_view text, bool action, LineKind kind, const Attribution& who) {
    if (side.is(LinkState::OutOfChannel))
        return false;
    outgoing.assign(privmsgHead);
    if (action)
        outgoing += "\x01" "ACTION ";
    // A \x01 inside would end the action early for every client.
    const auto append = [this, action](std::string_view part) {
        if (action)
            std::remove_copy(part.begin(), part.end(), std::back_inserter(outgoing), '\x01');
        else
            outgoing.append(part);
    };
    const std::size_t tagBytes = std::min(who.tagBytes, text.size());
    append(text.substr(0, tagBytes));
    const std::size_t textStart = outgoing.size();
    append(text.substr(tagBytes));
    if (action)
        outgoing += '\x01';
    if (relaymsgWanted && !who.speaker.empty()) {
        RelayedNicks::hold(outgoing, textStart, who.speaker);
        pacer.push(outgoing, currentTime(), kind);
        if (side.is(LinkState::InChannel))
            writePacedLines();
        return true;
    }
    if (!side.is(LinkState::InChannel) || pacer.enabled() || pacer.queuedLines() > 0)
        pacer.push(outgoing, currentTime(), kind);
    else
        connection.writeMessage(outgoing);
    return true;
}

void IRCClient::heard(Clock::time_point now) {
    lastHeardAt = now;
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
    if (now - *pingSentAt < patience())
        return true;
    dropLink("no data from the server within " + std::to_string(patience().count()) +
             " ms of our PING; the link is dead");
    return false;
}

IRCClient::Clock::time_point IRCClient::livenessDeadline() const {
    return pingSentAt ? *pingSentAt + patience() : lastHeardAt + silenceBeforePing();
}

void IRCClient::onTick(Clock::time_point now) {
    if (!linkIsAlive(now))
        return;
    switch (side.state()) {
    case LinkState::Joining:
        if (now >= side.attemptStartedAt() + patience()) {
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
    case LinkState::LoggingIn:
    case LinkState::Down:
        break;
    }
}

void IRCClient::writePacedLines() {
    std::string line;
    while (connection.isConnected() && pacer.popReady(currentTime(), line)) {
        // Only with relayed nicks wanted does the queue hold held lines.
        const std::optional<RelayedNicks::Held> held =
            relaymsgWanted ? RelayedNicks::readHeld(line) : std::nullopt;
        if (held)
            writeHeld(line, *held);
        else
            connection.writeMessage(line);
    }
    reportQueueDrops();
}

// A held line goes out in its speaker's name while the server lets it,
// else as the bot's line it holds. Others receive a relayed line as
// ":nick!user@host PRIVMSG <channel> :text", with our host.
void IRCClient::writeHeld(const std::string& stored, const RelayedNicks::Held& held) {
    const std::size_t hostBytes = ownUserHost.empty() ? kLongHostBytes : ownUserHost.size() - ownUserHost.find('@') - 1;
    const std::size_t receivedHead = 1 + 1 + kLongUserBytes + 1 + hostBytes + 1 + privmsgHead.size();
    const std::string line = relayed.lineFor(held, settings.irc_channel, receivedHead, view.caseMapping);
    if (line.empty()) {
        connection.writeMessage(std::string(held.line));
        return;
    }
    connection.writeMessage(line);
    relayed.sent(stored);
}

// The server sends each relayed line of ours back to us too, tagged with
// our nick.
bool IRCClient::isOurRelayedLine(const IRCMessage& message) const {
    const std::optional<std::string_view> relayedBy = message.tag(CapNegotiation::kRelaymsg);
    return relayedBy && isUs(*relayedBy);
}

// A relayed line the server refused goes out as the bot's.
void IRCClient::onFail(const IRCMessage& message) {
    if (message.param(0) != "RELAYMSG")
        return;
    if (const std::optional<std::string> line = relayed.refused(message, currentLine, view.caseMapping))
        connection.writeMessage(*line);
}

// A burst that overflows the queue, or outstays its age, is told in one
// warning once a pass drops nothing more, however many passes it lasted.
void IRCClient::reportQueueDrops() {
    static const std::string head = "IRCClient::sendMessage()";
    pacer.reportDrops(head, "IRCClient", "the server", queueLines);
}

// Registered, the link's liveness is watched; the channel has its own times.
std::optional<IRCClient::Clock::duration> IRCClient::protocolWakeIn(Clock::time_point now) const {
    if (side.is(LinkState::LoggingIn))
        return std::nullopt;
    const auto until = [now](Clock::time_point at) { return std::max(Clock::duration::zero(), at - now); };
    Clock::duration wake = until(livenessDeadline());
    if (side.is(LinkState::Joining))
        wake = std::min(wake, until(side.attemptStartedAt() + patience()));
    else if (side.is(LinkState::OutOfChannel))
        wake = std::min(wake, joinSchedule.untilDue(now));
    else if (const auto paced = pacer.nextReadyIn(now))
        wake = std::min(wake, *paced);
    return wake;
}

std::optional<std::string> IRCClient::goodbye(const std::string& reason) const {
    return reason.empty() ? std::string("QUIT") : "QUIT :" + reason;
}

void IRCClient::onLinkLost() {
    channelMembers.clear();
    relayed.linkLost();
    drops.sideDown += pacer.queuedLines();
    const std::size_t waiting = discardQueuedLines();
    if (waiting > 0)
        logMessage(Warning, "IRCClient: the link to the server is gone; dropped " + std::to_string(waiting) +
                                " lines that were waiting for it");
}

std::string IRCClient::logInProgress() const {
    return " as \"" + settings.irc_nick + "\" (" + std::to_string(nickRetries) + " nick retries)";
}

void IRCClient::resetPacer() {
    pacer.clear();
    // The cost follows what goes on the wire, which the framing cuts to
    // one protocol line.
    pacer.chargeBySize(kMaxIrcLineBody);
    pacer.setLimits(settings.irc_burst_lines, std::chrono::milliseconds(settings.irc_line_interval),
                    std::chrono::seconds(settings.irc_queue_max_age));
}
