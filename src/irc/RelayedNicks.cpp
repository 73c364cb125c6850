#include "irc/RelayedNicks.h"

#include <algorithm>

#include "frame/Config.h"
#include "frame/Log.h"
#include "frame/printable.h"
#include "irc/relayedNick.h"
#include "translator/utf8.h"

void RelayedNicks::hold(std::string& line, std::size_t textStart, std::string_view speaker) {
    line += '\0';
    line += std::to_string(textStart);
    line += '\0';
    line.append(speaker);
}

std::optional<RelayedNicks::Held> RelayedNicks::readHeld(std::string_view stored) {
    const std::size_t lineEnd = stored.find('\0');
    const std::size_t speakerAt = stored.find('\0', lineEnd + 1);
    if (speakerAt == std::string_view::npos)
        return std::nullopt;
    const std::string start(stored.substr(lineEnd + 1, speakerAt - lineEnd - 1));
    return Held{stored.substr(0, lineEnd), std::min<std::size_t>(parseInt32(start), lineEnd),
                stored.substr(speakerAt + 1)};
}

void RelayedNicks::startOver() {
    separator.clear();
    nickLength = kDefaultNickLength;
    awaitingAnswer.clear();
    refusedNicks.clear();
}

void RelayedNicks::setNickLength(std::size_t bytes) { nickLength = std::clamp<std::size_t>(bytes, 1, kDefaultNickLength); }

bool RelayedNicks::grant(std::string_view separators) {
    separator = std::string(separators.substr(0, separators.empty() ? 0 : utf8CharacterLength(separators)));
    return on();
}

std::string RelayedNicks::nickOf(std::string_view speaker) const {
    return relayedNick(speaker, separator, nickSuffix, nickLength);
}

std::string RelayedNicks::lineFor(const Held& held, const std::string& channel, std::size_t receivedHead,
                                  CaseMapping mapping) const {
    if (!on())
        return std::string();
    const std::string nick = nickOf(held.speaker);
    if (isRefused(nick, mapping))
        return std::string();
    const std::string_view text = held.line.substr(held.textStart);
    const bool action = held.line.compare(held.line.find(" :") + 2, 1, "\x01") == 0;
    const std::string_view actionHead = action ? "\x01" "ACTION " : "";
    std::string line = "RELAYMSG " + channel + " " + nick + " :";
    line += actionHead;
    line += text;
    const std::size_t received = receivedHead + nick.size() + actionHead.size() + text.size();
    return line.size() <= kMaxIrcLineBody && received <= kMaxIrcLineBody ? line : std::string();
}

void RelayedNicks::sent(const std::string& stored) {
    if (awaitingAnswer.size() == kMaxAwaitingAnswer)
        awaitingAnswer.pop_front();
    awaitingAnswer.push_back(stored);
}

void RelayedNicks::answered() {
    if (!awaitingAnswer.empty())
        awaitingAnswer.pop_front();
}

std::optional<std::string> RelayedNicks::refused(const IRCMessage& message, std::string_view line,
                                                 CaseMapping mapping) {
    if (awaitingAnswer.empty())
        return std::nullopt;
    std::string stored = std::move(awaitingAnswer.front());
    awaitingAnswer.pop_front();
    const std::optional<Held> held = readHeld(stored);
    if (!held)
        return std::nullopt;
    const std::string_view code = message.param(1);
    if (code == "INVALID_NICK" || code == "BANNED") {
        const std::string nick = nickOf(held->speaker);
        if (!isRefused(nick, mapping)) {
            if (refusedNicks.size() == kMaxRefusedNicks)
                refusedNicks.erase(refusedNicks.begin());
            refusedNicks.push_back(nick);
            if (refusalLines.admits(Warning))
                logMessage(Warning, "IRCClient: the server refused the relayed nick \"" + printable(nick) +
                                        "\"; that user's chat goes out as the bot's until the next log-in: " +
                                        quotedIrcLine(line));
        }
    } else if (code != "BLANK_MSG" && on()) {
        separator.clear();
        if (refusalLines.admits(Warning))
            logMessage(Warning, "IRCClient: hub chat goes out as the bot's until the next log-in: the server refused "
                                "a relayed line: " + quotedIrcLine(line));
    }
    return std::string(held->line);
}

bool RelayedNicks::isRefused(std::string_view nick, CaseMapping mapping) const {
    return std::any_of(refusedNicks.begin(), refusedNicks.end(),
                       [&](const std::string& refusedNick) { return ircNamesEqual(refusedNick, nick, mapping); });
}
