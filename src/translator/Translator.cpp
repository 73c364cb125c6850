#include "translator/Translator.h"

#include <algorithm>

#include "frame/Log.h"
#include "frame/printable.h"
#include "translator/stripIRCFormatting.h"
#include "translator/utf8.h"

namespace {

const std::string_view kPrivmsg = " PRIVMSG ";
const std::string_view kAction = "\x01" "ACTION";
const std::string_view kMeCommand = "/me ";
// A CTCP ACTION adds "\x01ACTION " and "\x01" around the text.
constexpr std::size_t kActionWrapping = 9;
// However long our prefix and channel, a piece keeps at least this room.
constexpr std::size_t kMinPieceBytes = 64;
// A hub nick holds anything but NMDC's separators, the space and a line
// break (which would break every IRC line the nick is put in front of).
bool endsHubNick(char c) {
    return c == ' ' || c == '$' || c == '|' || c == '<' || c == '>' || c == '\r' || c == '\n';
}

// A nick or user of an IRC prefix: not empty, no ':' or '!' (the host may
// hold a ':', as an IPv6 address).
bool isPrefixWord(std::string_view word) { return !word.empty() && word.find_first_of(":!") == std::string_view::npos; }

// "nick", "nick@host" or "nick!user@host"; the nick is what it returns.
bool parsePrefix(std::string_view prefix, std::string_view& nick) {
    const std::size_t nickEnd = prefix.find_first_of("!@");
    nick = prefix.substr(0, nickEnd);
    if (!isPrefixWord(nick))
        return false;
    if (nickEnd == std::string_view::npos)
        return true;
    std::string_view rest = prefix.substr(nickEnd);
    if (rest[0] == '!') {
        const std::size_t at = rest.find('@');
        if (at == std::string_view::npos || !isPrefixWord(rest.substr(1, at - 1)))
            return false;
        rest.remove_prefix(at);
    }
    const std::string_view host = rest.substr(1);
    return !host.empty() && host.find_first_of("!@") == std::string_view::npos;
}

std::vector<std::string> splitNickList(const std::string& list) {
    std::vector<std::string> nicks;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string nick = trim(list.substr(start, comma - start), ' ');
        if (!nick.empty())
            nicks.push_back(nick);
        start = comma + 1;
    }
    return nicks;
}

}  // namespace

Translator::Translator() : configured(false) {}

bool Translator::setConfig(const Config& newConfig) {
    if (newConfig.dc.dc_nick.empty() || newConfig.irc.irc_channel.empty())
        return false;
    // Lines are cut at a NUL on their way through C strings: a channel or a
    // nick holding one would match other lines than it says.
    if (newConfig.irc.irc_channel.find('\0') != std::string::npos ||
        newConfig.dc.dc_nick.find('\0') != std::string::npos)
        return false;
    if (!charset.setCharset(newConfig.dc.dc_encoding)) {
        logMessage(Warning, "Translator::setConfig(): iconv(3) does not know the character set \"" +
                                newConfig.dc.dc_encoding + "\"");
        return false;
    }
    config = newConfig;
    ignoredNicks = splitNickList(config.ignore_nicks);
    privmsgHead = "PRIVMSG " + config.irc.irc_channel + " :";
    configured = true;
    return true;
}

void Translator::setServerView(const IRCServerView& view) { server = view; }

// ":prefix PRIVMSG channel :text", with exactly one space between the words
// and the channel compared as the server compares names.
bool Translator::parseChannelMessage(std::string_view line, Speech& speech) const {
    if (!configured || line.empty() || line[0] != ':' || line.find('\0') != std::string_view::npos)
        return false;
    const std::size_t prefixEnd = line.find(' ');
    if (prefixEnd == std::string_view::npos || !parsePrefix(line.substr(1, prefixEnd - 1), speech.nick))
        return false;
    if (line.compare(prefixEnd, kPrivmsg.size(), kPrivmsg) != 0)
        return false;
    const std::size_t targetStart = prefixEnd + kPrivmsg.size();
    const std::size_t targetEnd = line.find(' ', targetStart);
    if (targetEnd == std::string_view::npos || line.compare(targetEnd, 2, " :") != 0)
        return false;
    if (!ircNamesEqual(line.substr(targetStart, targetEnd - targetStart), config.irc.irc_channel, server.caseMapping))
        return false;
    speech.text = line.substr(targetEnd + 2);
    return true;
}

// "<nick> text", the nick free of NMDC's separators, not ours.
bool Translator::parseHubChat(std::string_view line, Speech& speech) const {
    if (!configured || line.size() < 4 || line[0] != '<' || line.find('\0') != std::string_view::npos)
        return false;
    const std::size_t nickEnd =
        static_cast<std::size_t>(std::find_if(line.begin() + 1, line.end(), endsHubNick) - line.begin());
    if (nickEnd == 1 || line.compare(nickEnd, 2, "> ") != 0)
        return false;
    speech.nick = line.substr(1, nickEnd - 1);
    speech.text = line.substr(nickEnd + 2);
    // The hub echoes our own chat lines back to us.
    return speech.nick != config.dc.dc_nick;
}

bool Translator::isIgnored(std::string_view nick, CaseMapping mapping) const {
    for (const std::string& ignored : ignoredNicks)
        if (ircNamesEqual(nick, ignored, mapping))
            return true;
    return false;
}

bool Translator::acceptableIRCMessage(const std::string& line) const {
    Speech speech;
    return parseChannelMessage(line, speech) && !isIgnored(speech.nick, server.caseMapping);
}

bool Translator::acceptableDCMessage(const std::string& line) const {
    Speech speech;
    return parseHubChat(line, speech) && !isIgnored(speech.nick, CaseMapping::Ascii);
}

// Appends "<nick> text" or, for a CTCP ACTION, "* nick text", without
// formatting. Other CTCP requests (VERSION, PING...) are for IRC clients, not
// for people: false.
bool Translator::appendHubBody(std::string& out, std::string_view nick, std::string_view text) const {
    const bool action = text.compare(0, kAction.size(), kAction) == 0 &&
                        (text.size() == kAction.size() || text[kAction.size()] == ' ' || text[kAction.size()] == '\x01');
    if (!text.empty() && text[0] == '\x01' && !action)
        return false;
    if (action) {
        text.remove_prefix(std::min(text.size(), kAction.size() + 1));
        if (!text.empty() && text.back() == '\x01')
            text.remove_suffix(1);
    }
    out += action ? "* " : "<";
    out.append(nick);
    out += action ? " " : "> ";
    appendWithoutFormatting(out, text);
    return true;
}

bool Translator::IRCtoDC(const std::string& line, std::string& out) const {
    Speech speech;
    if (!parseChannelMessage(line, speech) || isIgnored(speech.nick, server.caseMapping))
        return false;
    // Built aside, since line may be out itself.
    scratch.assign("<");
    scratch += config.dc.dc_nick;
    scratch += "> ";
    const std::size_t bodyStart = scratch.size();
    if (!appendHubBody(scratch, speech.nick, speech.text))
        return false;
    const std::string_view body = std::string_view(scratch).substr(bodyStart);
    if (!charset.reachesHubAsIs(body)) {
        const std::string converted = charset.toHub(body);
        scratch.resize(bodyStart);
        scratch += converted;
    }
    out.swap(scratch);
    return true;
}

bool Translator::DCtoIRC(const std::string& line, std::vector<std::string>& out) const {
    if (!acceptableDCMessage(line))
        return false;
    // The nick and the separators are ASCII in every set a hub uses, so the
    // converted line splits where the original did.
    const bool utf8Already = isValidUtf8(line);
    const std::string converted = utf8Already ? std::string() : charset.toUtf8(line);
    const std::string_view utf8 = utf8Already ? std::string_view(line) : std::string_view(converted);
    const std::size_t nickEnd = utf8.find("> ");
    if (nickEnd == std::string_view::npos)
        return false;
    std::string_view text = utf8.substr(nickEnd + 2);
    const bool action = text.compare(0, kMeCommand.size(), kMeCommand) == 0;
    if (action)
        text.remove_prefix(kMeCommand.size());

    const std::size_t taken = server.ownPrefixBytes + privmsgHead.size() + (action ? kActionWrapping : 0);
    const std::size_t room = taken + kMinPieceBytes < kMaxRelayedLine ? kMaxRelayedLine - taken : kMinPieceBytes;
    // A nick too long to leave room for text (no hub allows one, but a hub
    // may send anything) is shortened in the tag, at a character boundary.
    std::string_view tag = utf8.substr(0, nickEnd + 2);
    std::string shortTag;
    if (tag.size() + kMinPieceBytes > room) {
        shortTag = "<" + std::string(utf8Prefix(utf8.substr(1, nickEnd - 1), room - kMinPieceBytes - 3)) + "> ";
        tag = shortTag;
    }
    splitChat(text, tag.size(), room, kMaxLinesPerHubMessage, pieces);
    if (pieces.pieces.empty())
        return false;
    if (pieces.cutBytes > 0)
        logMessage(Notice, "Translator: " + std::to_string(pieces.cutBytes) + " bytes of a hub message from " +
                               printable(utf8.substr(0, nickEnd + 1)) + " did not fit in " +
                               std::to_string(kMaxLinesPerHubMessage) + " IRC lines and were cut");
    // The strings of out are reused from the last message.
    out.resize(pieces.pieces.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        std::string& ircLine = out[i];
        ircLine.assign(privmsgHead);
        if (action)
            ircLine += "\x01" "ACTION ";
        ircLine.append(tag);
        ircLine.append(pieces.pieces[i]);
        if (i + 1 == out.size() && pieces.cutBytes > 0)
            ircLine += moreMarker(pieces.cutBytes);
        if (action)
            ircLine += '\x01';
    }
    return true;
}

const Config& Translator::getConfig() const { return config; }
