#include "net/HubClient.h"

#include <algorithm>

#include "frame/Log.h"
#include "net/HubAddress.h"
#include "net/TlsSession.h"
#include "translator/utf8.h"

namespace {

// Lines that waited are joined as DC clients send a message of several
// lines.
constexpr char kLineSeparator = '\n';

}  // namespace

HubClient::HubClient(Connection& connection, const ClientNames& names)
    : ChatClient(connection, names),
      hubMembers(asciiFold),
      clientLabel(names.client),
      queueLines(std::string(names.client) + ": warnings of chat dropped from the queue") {
    resetPacer();
}

void HubClient::useSettings(const DCConfig& config) {
    settings = config;
    configuredNick = config.dc_nick;
    nickRetries = 0;
    std::string why;
    HubAddress hub = parseHubAddress(config.dc_server, why).value_or(HubAddress());
    if (hub.host.empty())
        hub.host = config.dc_server;
    // A scheme says itself whether it is TLS; dc_tls speaks for a bare host.
    TlsSettings tls = tlsSettingsFrom(config.dc_tls, config.dc_tls_verify, hub.host);
    tls.enabled = hub.tls.value_or(tls.enabled);
    tls.keyPrint = hub.keyPrint;
    setServer(hub.host, hub.port.value_or(config.dc_port), tls);
    resetPacer();
}

// On every relayed line (the ignore list): without allocating.
bool HubClient::sameNick(std::string_view a, std::string_view b) const {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

bool HubClient::userCame(std::string_view nick) {
    if (nick.empty() || sameNick(nick, settings.dc_nick) || hubMembers.contains(nick))
        return false;
    hubMembers.add(nick);
    return side.is(LinkState::InChannel);
}

bool HubClient::userWent(std::string_view nick) { return hubMembers.remove(nick) && side.is(LinkState::InChannel); }

// The lines go as one private message, as DC clients send a message of
// several lines; the nick stands before the first newline while it waits.
void HubClient::sendPrivate(std::string_view nick, const std::vector<std::string>& lines) {
    if (!side.is(LinkState::InChannel))
        return;
    std::string waiting(nick);
    for (const std::string& line : lines)
        waiting += kLineSeparator + line;
    const Clock::time_point now = currentTime();
    pacer.push(std::move(waiting), now, kAnswerLine);
    writePacedChat(now);
}

void HubClient::setQueueMaxAge(std::chrono::seconds maxAge) {
    queueMaxAge = maxAge;
    resetPacer();
}

void HubClient::resetPacer() {
    pacer.discardAll();
    pacer.chargePerMessage();
    pacer.setLimits(1, std::chrono::milliseconds(settings.dc_message_interval), queueMaxAge);
}

void HubClient::startKeepAlive() {
    link.enableKeepAlive(kKeepAliveIdle, kKeepAliveInterval, kKeepAliveProbes);
    noteActivity();
}

// The relay says actions on the hub as text ("* nick text"), so every
// message can join the others that waited. The relay cuts chat to the
// room a message has; a text its escapes make heavier than that goes in
// parts, cut at characters.
bool HubClient::takeChat(std::string_view text, bool, LineKind kind, const Attribution&) {
    if (!side.is(LinkState::InChannel))
        return false;
    const Clock::time_point now = currentTime();
    const std::size_t room = chatRoom(false);
    std::size_t weight = chatWeight(text);
    // Unpaced, with nothing waiting, a line that fits goes out as it is.
    if (!pacer.enabled() && pacer.queuedLines() == 0 && weight <= room && kind == kChatLine &&
        link.isConnected()) {
        writeChat(text);
        noteActivity(now);
        return true;
    }
    for (; !text.empty(); weight = chatWeight(text)) {
        std::string_view part = text;
        std::size_t partWeight = weight;
        if (weight > room) {
            part = utf8Prefix(text, room);
            while ((partWeight = chatWeight(part)) > room)
                part = utf8Prefix(part, part.size() - std::min(part.size(), partWeight - room));
            if (part.empty()) {
                part = text.substr(0, utf8CharacterLength(text));
                partWeight = chatWeight(part);
            }
        }
        pacer.push(std::string(part), now, kind, partWeight);
        text.remove_prefix(part.size());
    }
    writePacedChat(now);
    return true;
}

// Every line of a joined message begins with the bot's tag, as the first
// does on the wire: a line of it must not read as its speaker's own chat.
// The hub counts the text after the first tag, the others included.
void HubClient::writePacedChat(Clock::time_point now) {
    // Built again only when the nick changed.
    if (lineStart.size() != settings.dc_nick.size() + 4 ||
        lineStart.compare(2, settings.dc_nick.size(), settings.dc_nick) != 0) {
        lineStart.assign(1, kLineSeparator);
        lineStart += "<" + settings.dc_nick + "> ";
        lineStartWeight = chatWeight(lineStart);
    }
    const std::size_t maxLines = static_cast<std::size_t>(settings.dc_message_max_lines);
    while (link.isConnected() &&
           pacer.popBatch(now, chatRoom(false), maxLines, lineStart, lineStartWeight, batch)) {
        if (pacer.poppedKind() == kAnswerLine) {
            const std::size_t nickEnd = batch.find(kLineSeparator);
            writePrivate(std::string_view(batch).substr(0, nickEnd), batch.substr(nickEnd + 1));
        } else {
            writeChat(batch);
        }
        noteActivity(now);
    }
    pacer.reportDrops(clientLabel, names().client, "the hub", queueLines);
}

void HubClient::onTick(Clock::time_point now) {
    if (!side.is(LinkState::InChannel))
        return;
    writePacedChat(now);
    if (now - lastActivityAt < silenceBeforeKeepAlive())
        return;
    link.writeMessage("");
    noteActivity(now);
}

std::optional<HubClient::Clock::duration> HubClient::protocolWakeIn(Clock::time_point now) const {
    if (!side.is(LinkState::InChannel))
        return std::nullopt;
    Clock::duration wake = std::max(Clock::duration::zero(), lastActivityAt + silenceBeforeKeepAlive() - now);
    if (const auto paced = pacer.nextReadyIn(now))
        wake = std::min(wake, *paced);
    return wake;
}

bool HubClient::takeNextNick() {
    if (nickRetries == kMaxNickRetries) {
        const std::string why = "the hub refused " + std::to_string(nickRetries + 1) + " nicks, the last \"" +
                                settings.dc_nick + "\"" + saidLast();
        startNickOver();
        giveUp(why);
        return false;
    }
    logMessage(Warning, "Nickname \"" + settings.dc_nick + "\" already taken");
    settings.dc_nick += "_";
    ++nickRetries;
    logMessage(Notice, "Trying \"" + settings.dc_nick + "\"...");
    return true;
}

void HubClient::startNickOver() {
    settings.dc_nick = configuredNick;
    nickRetries = 0;
}

std::string HubClient::logInProgress() const {
    return " as \"" + settings.dc_nick + "\" (" + std::to_string(nickRetries) + " nick retries)";
}

void HubClient::onLinkLost() {
    hubMembers.clear();
    hubName.clear();
    if (side.is(LinkState::InChannel))
        startNickOver();
    drops.sideDown += pacer.queuedLines();
    const std::size_t waiting = pacer.discardAll();
    if (waiting > 0)
        logMessage(Warning, std::string(names().client) + ": the link to the hub is gone; dropped " +
                                std::to_string(waiting) + " lines that were waiting for it");
}
