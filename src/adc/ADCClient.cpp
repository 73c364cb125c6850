#include "adc/ADCClient.h"

#include <random>

#include "adc/adcEscapes.h"
#include "adc/hubChatText.h"
#include "adc/tiger.h"
#include "frame/Log.h"
#include "frame/printable.h"
#include "net/base32.h"
#include "platform.h"
#include "translator/utf8.h"

namespace {

const ClientNames kAdcNames{"ADCClient", "ADCClient::Connect()", "DC++", "hub", "dc_tls_verify"};

// What the bot asks for: the base protocol and Tiger as the session hash,
// which every hub offers.
const char kSupport[] = "HSUP ADBASE ADTIGR";
// uhub 0.4 takes only characters of up to three bytes; later ones all.
constexpr std::string_view kHubWithoutFourByteCharacters = "uhub/0.4";

std::string randomPrivateId() {
    std::random_device device;
    std::string bytes(kTigerBytes, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(device() & 0xFF);
    return bytes;
}

// Kept across restarts when there is a password: the hub then replaces a
// session it still holds for us at once. Only who knows the password can
// make it; without one it is random for each run.
std::string privateIdFor(const DCConfig& config) {
    if (config.dc_pass.empty())
        return randomPrivateId();
    return tigerHash("brivox private id\n" + config.dc_server + "\n" + config.dc_nick + "\n" + config.dc_pass);
}

std::string unescaped(std::string_view parameter) {
    std::string text;
    return adcUnescape(parameter, text) ? text : std::string(parameter);
}

LogLevel statusLevel(std::string_view code) {
    return code[0] == '0' ? Notice : code[0] == '1' ? Warning : Error;
}

}  // namespace

ADCClient::ADCClient() : HubClient(connection, kAdcNames), pid(randomPrivateId()) {}

ADCClient::~ADCClient() {
    sayGoodbye("");
    close();
}

void ADCClient::setConfig(const DCConfig& config) {
    useSettings(config);
    pid = privateIdFor(config);
}

void ADCClient::onAttemptStart() { lastStatus.clear(); }

// Each link starts the protocol over; a nick refusal opens a new one within
// the same attempt.
void ADCClient::onLinkOpen() {
    startKeepAlive();
    step = Step::Protocol;
    refusal.clear();
    refusalPasses = false;
    refusalWait.reset();
    sid.clear();
    nicks.clear();
    nickBytes = 0;
    fourByteCharacters = true;
    connection.writeMessage(kSupport);
}

// A refusal ends the attempt with the hub's QUI, which may say how long to
// stay away, or with whatever comes instead.
bool ADCClient::onMessage(const std::string& line, ChatMessage& chat) {
    noteActivity();
    if (!refusal.empty() && side.is(LinkState::LoggingIn) && line.compare(0, 5, "IQUI ") != 0) {
        refuseLogIn(refusal);
        return false;
    }
    if (!parseADCMessage(line, parsed)) {
        if (badMessages.admits(Notice))
            logMessage(Notice, "ADCClient: not an ADC message: \"" + printable(line) + "\"");
        return false;
    }
    if (parsed.is("ISID"))
        onSessionId(parsed);
    else if (parsed.is("IINF"))
        onHubInfo(parsed);
    else if (parsed.is("IGPA"))
        onPasswordRequest(parsed);
    else if (parsed.is("ISTA"))
        onStatus(parsed);
    else if (parsed.is("BINF"))
        return onUserInfo(parsed, chat);
    else if (parsed.is("IQUI"))
        return onQuit(parsed, chat);
    else if (parsed.is("BMSG"))
        return readChat(parsed, chat);
    else if (parsed.is("EMSG") || parsed.is("DMSG"))
        return readPrivate(parsed, chat);
    return false;
}

// The hub gives us our session id; we say who we are.
void ADCClient::onSessionId(const ADCMessage& message) {
    if (step != Step::Protocol || message.parameters.empty() || !isSessionId(message.parameters[0]))
        return;
    sid.assign(message.parameters[0]);
    step = Step::Identify;
    connection.writeMessage(identity());
}

// Our INF: ids, nick, description and version; a passive client that
// shares nothing and is on one hub.
std::string ADCClient::identity() const {
    std::string info = "BINF " + sid + " ID" + base32Encode(tigerHash(pid)) + " PD" + base32Encode(pid) +
                       " NI" + adcEscape(settings.dc_nick);
    if (!settings.dc_description.empty())
        info += " DE" + adcEscape(settings.dc_description);
    info += " VE" + adcEscape("brivox " BRIVOX_VERSION) + " SS0 SF0 SL0 HN1 HR0 HO0";
    return info;
}

void ADCClient::onHubInfo(const ADCMessage& message) {
    if (const auto name = message.named("NI"))
        hubName.assign(utf8Prefix(unescaped(*name), kMaxHubNameBytes));
    if (const auto version = message.named("VE"))
        fourByteCharacters = unescaped(*version).compare(0, kHubWithoutFourByteCharacters.size(),
                                                         kHubWithoutFourByteCharacters) != 0;
}

// The answer is the Tiger hash of the password followed by the hub's
// random bytes.
void ADCClient::onPasswordRequest(const ADCMessage& message) {
    // Only a log-in that has said who we are is asked; a request at any
    // other time is the hub's mistake, not a reason to leave.
    if (step != Step::Identify || !side.is(LinkState::LoggingIn) || message.parameters.empty()) {
        if (badMessages.admits(Notice))
            logMessage(Notice, "ADCClient: ignored a password request outside the log-in");
        return;
    }
    const std::optional<std::string> random = base32Decode(message.parameters[0]);
    if (!random) {
        giveUp("the hub asked for the password with data that is not base32");
        return;
    }
    if (settings.dc_pass.empty()) {
        giveUp("the hub asks for a password, and dc_pass is empty");
        return;
    }
    step = Step::Verify;
    connection.writeMessage("HPAS " + base32Encode(tigerHash(settings.dc_pass + *random)));
}

// Every status is logged. A refused nick is tried again with "_" over a new
// link; the other refusals of a log-in (2xx) end the attempt.
void ADCClient::onStatus(const ADCMessage& message) {
    if (message.parameters.empty() || message.parameters[0].size() != 3)
        return;
    const std::string_view code = message.parameters[0];
    const std::string said = std::string(code) + " " +
                             (message.parameters.size() > 1 ? unescaped(message.parameters[1]) : std::string());
    if (hubStatus.admits(statusLevel(code)))
        logMessage(statusLevel(code), "ADCClient: the hub says " + printable(said));
    if (!side.is(LinkState::LoggingIn))
        return;
    lastStatus.assign(said, 0, kMaxQuotedPeerText + 1);
    if (code == "222") {
        onNickTaken();
    } else if (code[0] == '2') {
        refusal = said.substr(4);
        // 211: the hub is full.
        refusalPasses = code == "211";
        keepAway(message);
    }
}

// A wait the hub names (TL, in seconds) comes before the next attempt.
void ADCClient::keepAway(const ADCMessage& message) {
    const std::optional<std::string_view> wait = message.named("TL", 1);
    if (!wait)
        return;
    const long seconds = std::strtol(std::string(*wait).c_str(), nullptr, 10);
    // -1 asks us never to come back: we wait as long as we ever do.
    const auto delay = seconds < 0 ? side.reconnectSchedule().longestDelay()
                                   : std::chrono::seconds(std::min(seconds, 24L * 3600));
    side.notBefore(Clock::now() + delay);
    if (seconds >= 0) {
        refusalPasses = true;
        refusalWait = std::chrono::seconds(std::min(seconds, 24L * 3600));
    }
}

// A refusal that names a wait, or a full hub, passes; the others (a wrong
// password, a ban for good) end the attempt as a failure.
void ADCClient::refuseLogIn(const std::string& why) {
    if (refusalPasses)
        giveUpForNow("the hub said \"" + printable(why) + "\"", refusalWait);
    else
        giveUp("the hub refused us: " + printable(why));
}

// The hub has closed the link on the refusal; the next nick needs a new one.
void ADCClient::onNickTaken() {
    if (takeNextNick())
        openLinkAgain();
}

// Our own INF coming back means the hub let us in; the others tell us
// who is who.
bool ADCClient::onUserInfo(const ADCMessage& message, ChatMessage& chat) {
    if (message.parameters.empty())
        return false;
    const std::string_view from = message.parameters[0];
    if (!sid.empty() && from == sid) {
        if (side.is(LinkState::LoggingIn)) {
            logMessage(Notice, "Logged in to the hub as " + settings.dc_nick);
            enter(LinkState::InChannel);
        }
        return false;
    }
    const std::optional<std::string_view> nick = message.named("NI", 1);
    if (!nick || !isSessionId(from))
        return false;
    // A nick no hub allows is no one's, and is not kept; nor are nicks past
    // the bounds of the member list, by count and by bytes.
    const auto known = nicks.find(from);
    const bool keepable = nick->size() <= 2 * MemberList::kMaxNickBytes &&
                          nickBytes + nick->size() <= MemberList::kMaxBytes;
    if (known != nicks.end()) {
        const bool member = hubMembers.remove(known->second);
        nickBytes -= known->second.size();
        if (!keepable) {
            nicks.erase(known);
            return false;
        }
        known->second = unescaped(*nick);
        nickBytes += known->second.size();
        if (member)
            hubMembers.add(known->second);
        return false;
    }
    if (nicks.size() >= MemberList::kMaxMembers || !keepable)
        return false;
    const std::string& added = nicks.emplace(std::string(from), unescaped(*nick)).first->second;
    nickBytes += added.size();
    if (!userCame(added))
        return false;
    chat.speaker = added;
    chat.kind = ChatKind::Joined;
    return true;
}

// The hub's goodbye to us names why, and may say how long to stay away.
bool ADCClient::onQuit(const ADCMessage& message, ChatMessage& chat) {
    if (message.parameters.empty())
        return false;
    if (message.parameters[0] != sid) {
        const auto known = nicks.find(message.parameters[0]);
        if (known == nicks.end())
            return false;
        speaker = known->second;
        nickBytes -= known->second.size();
        nicks.erase(known);
        if (!userWent(speaker))
            return false;
        chat.speaker = speaker;
        chat.kind = ChatKind::Left;
        return true;
    }
    keepAway(message);
    const std::optional<std::string_view> words = message.named("MS", 1);
    const std::string why = words ? unescaped(*words) : !refusal.empty() ? refusal : lastStatus;
    if (side.is(LinkState::LoggingIn))
        refuseLogIn(why);
    else
        dropLink("the hub closed our session: " + printable(why));
    return false;
}

// "EMSG <from> <us> text PM<from>": said to the bot alone.
bool ADCClient::readPrivate(const ADCMessage& message, ChatMessage& chat) {
    if (!side.is(LinkState::InChannel) || message.parameters.size() < 3 || message.parameters[1] != sid ||
        message.parameters[0] == sid || !message.named("PM", 3))
        return false;
    const auto known = nicks.find(message.parameters[0]);
    if (known == nicks.end() || !adcUnescape(message.parameters[2], text))
        return false;
    speaker = known->second;
    chat.speaker = speaker;
    chat.text = text;
    chat.kind = ChatKind::Private;
    return true;
}

// To the user's session id, which the hub gave in the user's INF.
void ADCClient::writePrivate(std::string_view nick, const std::string& privateText) {
    for (const auto& [to, known] : nicks)
        if (sameNick(known, nick)) {
            connection.writeMessage("EMSG " + sid + " " + to + " " +
                                    adcEscape(hubChatText(privateText, fourByteCharacters)) + " PM" + sid);
            return;
        }
}

// Main chat of another user; private messages carry a PM flag.
bool ADCClient::readChat(const ADCMessage& message, ChatMessage& chat) {
    if (!side.is(LinkState::InChannel) || message.parameters.size() < 2 || message.parameters[0] == sid ||
        message.named("PM", 2))
        return false;
    const auto known = nicks.find(message.parameters[0]);
    if (known == nicks.end() || !adcUnescape(message.parameters[1], text))
        return false;
    speaker = known->second;
    chat.speaker = speaker;
    chat.text = text;
    const std::optional<std::string_view> me = message.named("ME", 2);
    chat.action = me && *me == "1";
    return true;
}

std::size_t ADCClient::chatWeight(std::string_view text) const { return adcEscapedSize(text); }

// One message of the bot, in as few lines as the hub takes: a line that
// would be too long is sent in parts, at line ends where it can be.
void ADCClient::writeChat(std::string_view chatText) {
    const std::string safe = hubChatText(chatText, fourByteCharacters);
    const std::size_t room = kMaxLineBytes - kChatHeadBytes;
    std::string message;
    std::size_t escapedBytes = 0;
    std::string_view rest = safe;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        std::size_t lineBytes = adcEscapedSize(line);
        if (!message.empty() && escapedBytes + 2 + lineBytes > room) {
            sendChatLine(message);
            message.clear();
            escapedBytes = 0;
        }
        // Escaping at most doubles a byte, so half the room always fits.
        while (lineBytes > room) {
            const std::string_view part = utf8Prefix(line, room / 2);
            sendChatLine(part);
            line.remove_prefix(part.size());
            lineBytes = adcEscapedSize(line);
        }
        if (!message.empty()) {
            message += '\n';
            escapedBytes += 2;
        }
        message.append(line);
        escapedBytes += lineBytes;
    }
    if (!message.empty())
        sendChatLine(message);
}

void ADCClient::sendChatLine(std::string_view line) { connection.writeMessage("BMSG " + sid + " " + adcEscape(line)); }

// ADC has no quit for clients: what is queued goes out, then the link
// closes.
std::optional<std::string> ADCClient::goodbye(const std::string&) const {
    if (!side.is(LinkState::InChannel))
        return std::nullopt;
    return std::string();
}

void ADCClient::onLinkLost() {
    HubClient::onLinkLost();
    nicks.clear();
    nickBytes = 0;
}

std::string ADCClient::lastWords() const {
    return side.is(LinkState::LoggingIn) && !lastStatus.empty() ? lastStatus : ChatClient::lastWords();
}
