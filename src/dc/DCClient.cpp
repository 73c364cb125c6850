#include "dc/DCClient.h"

#include <algorithm>

#include "dc/hubRefusal.h"
#include "dc/lockToKey.h"
#include "dc/nmdcEscapes.h"
#include "frame/Log.h"
#include "frame/findAny.h"
#include "frame/printable.h"
#include "translator/utf8.h"

namespace {

const char kNickRefused[] = "$ValidateDenide";
const std::string_view kMeCommand = "/me ";
constexpr std::string_view kMyInfoHead = "$MyINFO $ALL ";
constexpr std::string_view kNickListHead = "$NickList ";
// A lock that begins so asks for the client's $Supports before its key.
const char kExtendedProtocol[] = "EXTENDEDPROTOCOL";
// What the bot asks of the hub: users that come are announced by their
// $MyINFO alone (no $Hello first), and every user's $MyINFO comes unasked.
const char kSupports[] = "$Supports NoGetINFO NoHello";

// "DClient" is how the resolver's line has always named this client.
const ClientNames kHubNames{"DCClient", "DClient::Connect()", "DC++", "hub", "dc_tls_verify"};

constexpr ByteSet kNickBreakerSet{kNmdcNickBreakers};

// Called many times on every hub message: the prefix's length is known
// where it is written.
bool startsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// The nick a "$MyINFO $ALL nick ..." names.
std::string_view myInfoNick(std::string_view myInfo) {
    const std::string_view rest = myInfo.substr(kMyInfoHead.size());
    return rest.substr(0, rest.find(' '));
}

// Each nick of a "$NickList a$$b$$" in turn.
template <typename Each>
void forEachListedNick(std::string_view nickList, Each each) {
    std::string_view list = nickList.substr(kNickListHead.size());
    for (std::size_t end; (end = list.find("$$")) != std::string_view::npos; list.remove_prefix(end + 2))
        each(list.substr(0, end));
}

}  // namespace

bool isNickRefusal(const std::string& command) {
    // Real hubs name the refused nick after the word.
    return command == kNickRefused || startsWith(command, "$ValidateDenide ");
}

// "$MyINFO $ALL nick description$ $connection$email$share$", where the
// connection is a speed and the status byte.
bool listsABot(std::string_view myInfo) {
    const std::size_t fields = myInfo.find("$ $", kMyInfoHead.size());
    if (fields == std::string_view::npos)
        return false;
    const std::size_t connection = fields + 3;
    const std::size_t end = myInfo.find('$', connection);
    return end != std::string_view::npos && end - connection <= 1;
}

// Tested in this order; the first that matches decides.
const DCClient::LoginCommand DCClient::loginCommands[] = {
    {[](const std::string& c) { return startsWith(c, "$Lock "); }, &DCClient::onLock},
    {isNickRefusal, &DCClient::onNickRefused},
    {[](const std::string& c) { return c == "$GetPass"; }, &DCClient::onPasswordRequest},
    {[](const std::string& c) { return c == "$BadPass"; }, &DCClient::onPasswordRefused},
    {[](const std::string& c) { return startsWith(c, "$Hello "); }, &DCClient::onHello},
};

DCClient::DCClient() : HubClient(connection, kHubNames) {}

DCClient::~DCClient() {
    sayGoodbye("");
    close();
}

void DCClient::setConfig(const DCConfig& config) {
    useSettings(config);
    charset.setCharset(config.dc_encoding);
}

// The nick of a failed attempt is kept: a hub that refused it and closed
// the link gets the longer one next time.
void DCClient::onAttemptStart() {
    lastChat.clear();
    otherHelloLogged = false;
}

// The hub speaks first, with its lock.
void DCClient::onLinkOpen() {
    step = LogInStep::AwaitingLock;
    awaitingUserList = false;
    startKeepAlive();
}

// Hubs refuse a log-in by closing the link, their reason said in the main
// chat just before: a wait or a full hub passes, a password does not.
void DCClient::onClosedDuringLogIn() {
    const HubRefusal refusal = readHubRefusal(lastChat);
    if (refusal.passes)
        giveUpForNow("the hub said \"" + printable(lastChat) + "\"", refusal.wait);
    else if (step == LogInStep::PasswordSent)
        giveUp("the hub closed the link after our password" + saidLast());
    else if (step == LogInStep::Introduced)
        giveUp("the hub closed the link instead of listing us" + saidLast());
    else
        ChatClient::onClosedDuringLogIn();
}

bool DCClient::onMessage(const std::string& command, ChatMessage& chat) {
    noteActivity();
    // Most of what a hub sends is main chat, which none of these concern.
    if (!command.empty() && command[0] == '$') {
        // A hub that is full or sends us elsewhere closes the link next.
        if ((startsWith(command, "$HubIsFull") || startsWith(command, "$ForceMove")) && hubNotices.admits(Warning))
            logMessage(Warning, "DCClient: the hub says \"" + printable(command) + "\"");
        noteHubName(command);
        if (readPresence(command, chat))
            return true;
    }
    if (side.is(LinkState::LoggingIn)) {
        followLogIn(command);
        return false;
    }
    if (readChat(command, chat) || readBroadcastAction(command, chat) || readPrivate(command, chat))
        return true;
    noteHubWords(command);
    return false;
}

// Main-chat lines from nicks that are not people on the hub are said to
// the bot alone (refusals of its messages, notices): the operator sees them
// in the log, the channel does not. The greeting, before the hub's list of
// users ends, is not worth a line.
void DCClient::noteHubWords(const std::string& command) {
    if (isNmdcChatLine(command) && !awaitingUserList &&
        !(command.compare(1, settings.dc_nick.size(), settings.dc_nick) == 0 &&
          command.compare(1 + settings.dc_nick.size(), 2, "> ") == 0) &&
        hubWords.admits(Notice))
        logMessage(Notice, "DCClient: the hub says \"" + printable(command) + "\"");
}

// Who is on the hub: everyone the hub lists or greets, until they quit.
// A greeting or a quit in the main chat is a coming or going to tell.
bool DCClient::readPresence(const std::string& command, ChatMessage& chat) {
    const std::string_view line(command);
    if (startsWith(command, "$Hello ") || startsWith(command, "$Quit ")) {
        const bool came = command[1] == 'H';
        speakerUtf8 = inUtf8(line.substr(came ? 7 : 6), textUtf8);
        if (!(came ? userCame(speakerUtf8) : userWent(speakerUtf8)))
            return false;
        chat.speaker = speakerUtf8;
        chat.kind = came ? ChatKind::Joined : ChatKind::Left;
        return true;
    }
    if (startsWith(command, kMyInfoHead)) {
        // With NoHello a user's first $MyINFO is the coming; the hub's bots
        // are not people on the hub.
        speakerUtf8 = inUtf8(myInfoNick(line), textUtf8);
        if (listsABot(command)) {
            hubMembers.remove(speakerUtf8);
            return false;
        }
        if (!userCame(speakerUtf8) || awaitingUserList)
            return false;
        chat.speaker = speakerUtf8;
        chat.kind = ChatKind::Joined;
        return true;
    }
    if (startsWith(command, "$OpList ")) {
        awaitingUserList = false;
    } else if (startsWith(command, kNickListHead)) {
        forEachListedNick(line, [this](std::string_view nick) { userCame(inUtf8(nick, textUtf8)); });
    }
    return false;
}

// "$HubName name", often with its topic after " - ".
void DCClient::noteHubName(const std::string& command) {
    if (startsWith(command, "$HubName "))
        hubName.assign(inUtf8(utf8Prefix(std::string_view(command).substr(9), kMaxHubNameBytes), textUtf8));
}

// "$To: <us> From: <nick> $<nick> text": said to the bot alone.
bool DCClient::readPrivate(const std::string& command, ChatMessage& chat) {
    if (!startsWith(command, "$To: "))
        return false;
    const std::string head = "$To: " + settings.dc_nick + " From: ";
    if (!startsWith(command, head.c_str()))
        return false;
    const std::string_view rest = std::string_view(command).substr(head.size());
    const std::size_t nickEnd = rest.find(' ');
    if (nickEnd == std::string_view::npos || rest.compare(nickEnd, 3, " $<") != 0)
        return false;
    const std::string_view nick = rest.substr(0, nickEnd);
    const std::size_t textAt = nickEnd + 3 + nick.size() + 2;
    if (rest.compare(nickEnd + 3, nick.size() + 2, std::string(nick) + "> ") != 0)
        return false;
    chat.speaker = inUtf8(nick, speakerUtf8);
    if (!isPerson(chat.speaker))
        return false;
    chat.text = inUtf8(rest.substr(textAt), textUtf8);
    chat.kind = ChatKind::Private;
    return true;
}

void DCClient::writePrivate(std::string_view nick, const std::string& text) {
    connection.writeMessage("$To: " + std::string(nick) + " From: " + settings.dc_nick + " $<" + settings.dc_nick +
                            "> " + (charset.isUtf8() ? text : charset.toHub(text)));
}

// The hub's chat during the log-in usually says why it refuses us.
void DCClient::followLogIn(const std::string& command) {
    if (isNmdcChatLine(command) || startsWith(command, "$HubIsFull"))
        lastChat.assign(command, 0, kMaxQuotedPeerText + 1);
    if (step == LogInStep::Introduced && (startsWith(command, kMyInfoHead) || startsWith(command, kNickListHead))) {
        onListed(command);
        return;
    }
    for (const LoginCommand& entry : loginCommands)
        if (entry.matches(command)) {
            (this->*entry.handle)(command);
            return;
        }
}

std::string DCClient::lastWords() const {
    return side.is(LinkState::LoggingIn) && !lastChat.empty() ? lastChat : ChatClient::lastWords();
}

void DCClient::onLock(const std::string& command) {
    std::string lock = command.substr(6);
    const std::size_t space = lock.find(' ');
    if (space != std::string::npos)
        lock.erase(space);
    if (lock.size() < 2) {
        giveUp("the hub sent a lock shorter than two bytes (\"" + printable(lock) + "\")");
        return;
    }
    // Its key would be ten times as long, and no hub sends such a lock.
    if (lock.size() > kMaxLockBytes) {
        giveUp("the hub sent a lock of " + std::to_string(lock.size()) + " bytes; no hub's is longer than " +
               std::to_string(kMaxLockBytes));
        return;
    }
    if (startsWith(lock, kExtendedProtocol))
        connection.writeMessage(kSupports);
    connection.writeMessage("$Key " + lockToKey(lock));
    // What the hub sent with its lock is not part of the log-in.
    std::string discarded;
    for (std::size_t i = 0; i < kMaxMessagesPerServe && connection.readMessage(discarded); ++i) {
        noteHubName(discarded);
        if (isNmdcChatLine(discarded))
            lastChat.assign(discarded, 0, kMaxQuotedPeerText + 1);
    }
    connection.writeMessage("$ValidateNick " + settings.dc_nick);
    step = LogInStep::NickAsked;
}

// Hubs close the link after a refusal (some only after our $MyINFO): the
// next nick is asked for over a new link, within the same attempt.
void DCClient::onNickRefused(const std::string&) {
    if (takeNextNick())
        openLinkAgain();
}

void DCClient::onPasswordRequest(const std::string&) {
    connection.writeMessage("$MyPass " + settings.dc_pass);
    step = LogInStep::PasswordSent;
}

void DCClient::onPasswordRefused(const std::string&) { giveUp("Hub said that our password is incorrect..."); }

// Hubs greet every user who comes in with "$Hello nick"; ours is the one
// for the nick we asked for. Adopting another would make the bot speak as
// somebody else and take that user's chat for its own echo.
void DCClient::onHello(const std::string& command) {
    const std::string_view nick = std::string_view(command).substr(7);
    if (nick != settings.dc_nick) {
        if (!otherHelloLogged)
            logMessage(Notice, "DCClient: ignored \"$Hello " + printable(nick) + "\" while logging in as \"" +
                                   settings.dc_nick + "\"");
        otherHelloLogged = true;
        return;
    }
    // Hubs greet a nick they may still refuse; the log-in is done when
    // the hub lists us among its users. Who was there before us is asked
    // for once: some hubs tell only when asked.
    connection.writeMessage("$Version 1,0096");
    connection.writeMessage("$GetNickList");
    connection.writeMessage(myInfo());
    step = LogInStep::Introduced;
    awaitingUserList = true;
}

// Our own $MyINFO coming back, or our nick in a $NickList: the hub lists us.
void DCClient::onListed(const std::string& command) {
    bool listed = startsWith(command, kMyInfoHead) && myInfoNick(command) == settings.dc_nick;
    if (startsWith(command, kNickListHead))
        forEachListedNick(command, [&](std::string_view nick) { listed = listed || nick == settings.dc_nick; });
    if (!listed)
        return;
    logMessage(Notice, "Logged in to the hub as " + settings.dc_nick);
    enter(LinkState::InChannel);
}

std::string DCClient::myInfo() const {
    std::string info = "$MyINFO $ALL " + settings.dc_nick + " " + settings.dc_description + "$ $" +
                       settings.dc_speed;
    info += static_cast<char>(settings.dc_speed_val & 0xFF);
    info += "$" + settings.dc_email + "$" + settings.dc_share_size + "$";
    return info;
}

// "<nick> text" from another user, the nick free of NMDC's separators; our
// own lines come back from the hub and are not chat for the other side.
bool DCClient::readChat(const std::string& command, ChatMessage& chat) {
    if (command.size() < 4 || !isNmdcChatLine(command))
        return false;
    const std::size_t nickEnd = findAny(command, kNickBreakerSet, 1);
    if (nickEnd == 1 || nickEnd == std::string::npos || command.compare(nickEnd, 2, "> ") != 0)
        return false;
    const std::string_view line(command);
    const std::string_view nick = line.substr(1, nickEnd - 1);
    if (nick == settings.dc_nick)
        return false;
    // The nick and the separators are ASCII in every set a hub uses.
    chat.speaker = inUtf8(nick, speakerUtf8);
    if (!isPerson(chat.speaker))
        return false;
    chat.text = inUtf8(line.substr(nickEnd + 2), textUtf8);
    chat.action = chat.text.compare(0, kMeCommand.size(), kMeCommand) == 0;
    if (chat.action)
        chat.text.remove_prefix(kMeCommand.size());
    return true;
}

// "* nick text" (PtokaX) or "** nick text" (Verlihub): how hubs broadcast
// a user's "/me text", without the speaker's tag. Only a person on the hub
// can be the nick.
bool DCClient::readBroadcastAction(const std::string& command, ChatMessage& chat) {
    std::string_view line(command);
    if (line.compare(0, 2, "* ") == 0)
        line.remove_prefix(2);
    else if (line.compare(0, 3, "** ") == 0)
        line.remove_prefix(3);
    else
        return false;
    const std::size_t nickEnd = line.find(' ');
    if (nickEnd == 0 || nickEnd == std::string_view::npos || line.substr(0, nickEnd) == settings.dc_nick)
        return false;
    chat.speaker = inUtf8(line.substr(0, nickEnd), speakerUtf8);
    if (!isPerson(chat.speaker))
        return false;
    chat.text = inUtf8(line.substr(nickEnd + 1), textUtf8);
    chat.action = true;
    return true;
}

std::string_view DCClient::inUtf8(std::string_view text, std::string& converted) const {
    if (isValidUtf8(text))
        return text;
    converted = charset.toUtf8(text);
    return converted;
}

// Hubs count the text's bytes as they arrive, escapes included.
std::size_t DCClient::chatWeight(std::string_view text) const {
    return escapedNmdcSize(text, NmdcText::Chat);
}

// A text of several lines is one message, as DC clients send them.
void DCClient::writeChat(std::string_view text) {
    outgoing.assign("<");
    outgoing += settings.dc_nick;
    outgoing += "> ";
    if (charset.isUtf8())
        outgoing.append(text);
    else
        outgoing += charset.toHub(text);
    connection.writeMessage(outgoing);
}

std::optional<std::string> DCClient::goodbye(const std::string&) const {
    if (!side.is(LinkState::InChannel))
        return std::nullopt;
    return "$Quit " + settings.dc_nick;
}

