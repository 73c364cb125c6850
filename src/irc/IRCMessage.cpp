#include "irc/IRCMessage.h"

#include <algorithm>

#include "frame/findAny.h"
#include "frame/printable.h"

namespace {

// The next space-separated word of line from at, moving at past it.
std::string_view nextWord(std::string_view line, std::size_t& at) {
    while (at < line.size() && line[at] == ' ')
        ++at;
    const std::size_t end = std::min(line.find(' ', at), line.size());
    const std::string_view word = line.substr(at, end - at);
    at = end;
    return word;
}

// A-Z, then "[\\]" and with RFC 1459 also '^', fold 32 places up onto
// "{|}~".
char lower(char c, CaseMapping mapping) {
    const char lastFolded = mapping == CaseMapping::Ascii ? 'Z' : mapping == CaseMapping::StrictRfc1459 ? ']' : '^';
    if (c >= 'A' && c <= lastFolded)
        return static_cast<char>(c + 32);
    return c;
}

// A nick or user of a prefix: not empty, no ':' or '!' (a host may hold a
// ':', as an IPv6 address does).
// What ends the nick of a prefix, and what a nick or user of one may not hold.
constexpr ByteSet kNickEnds{"!@"};
constexpr ByteSet kPrefixWordBreakers{":!"};

bool isPrefixWord(std::string_view word) {
    return !word.empty() && findAny(word, kPrefixWordBreakers) == std::string_view::npos;
}

}  // namespace

IRCMessage parseIRCMessage(std::string_view line) {
    IRCMessage message;
    std::size_t at = 0;
    if (!line.empty() && line[0] == '@')
        message.tags = nextWord(line, at).substr(1);
    while (at < line.size() && line[at] == ' ')
        ++at;
    if (at < line.size() && line[at] == ':') {
        ++at;
        message.prefix = nextWord(line, at);
    }
    message.command = nextWord(line, at);
    while (message.paramCount < IRCMessage::kMaxParams) {
        while (at < line.size() && line[at] == ' ')
            ++at;
        if (at >= line.size())
            break;
        if (line[at] == ':' || message.paramCount + 1 == IRCMessage::kMaxParams) {
            message.params[message.paramCount++] = line.substr(at + (line[at] == ':' ? 1 : 0));
            break;
        }
        message.params[message.paramCount++] = nextWord(line, at);
    }
    return message;
}

std::optional<std::string_view> IRCMessage::tag(std::string_view key) const { return listedValue(tags, ';', key); }

std::optional<std::string_view> listedValue(std::string_view list, char separator, std::string_view key) {
    std::size_t at = 0;
    while (at < list.size()) {
        const std::size_t end = std::min(list.find(separator, at), list.size());
        const std::string_view item = list.substr(at, end - at);
        if (item.compare(0, key.size(), key) == 0 && (item.size() == key.size() || item[key.size()] == '='))
            return item.substr(std::min(item.size(), key.size() + 1));
        at = end + 1;
    }
    return std::nullopt;
}

bool IRCMessage::is(std::string_view word) const {
    return command.size() == word.size() &&
           std::equal(command.begin(), command.end(), word.begin(),
                      [](char a, char b) { return lower(a, CaseMapping::Ascii) == lower(b, CaseMapping::Ascii); });
}

std::string_view IRCMessage::senderNick() const { return prefix.substr(0, findAny(prefix, kNickEnds)); }

bool IRCMessage::fromUser() const {
    const std::size_t nickEnd = findAny(prefix, kNickEnds);
    if (!isPrefixWord(prefix.substr(0, nickEnd)))
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
    return !host.empty() && findAny(host, kNickEnds) == std::string_view::npos;
}

int IRCMessage::number() const {
    if (command.size() != 3)
        return 0;
    int value = 0;
    for (const char c : command) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string_view IRCMessage::param(std::size_t index) const {
    return index < paramCount ? params[index] : std::string_view();
}

std::string_view withoutPrefix(std::string_view line) {
    for (const char lead : {'@', ':'}) {
        if (line.empty() || line[0] != lead)
            continue;
        const std::size_t space = line.find(' ');
        if (space == std::string_view::npos)
            return line;
        line.remove_prefix(space + 1);
    }
    return line;
}

std::string quotedIrcLine(std::string_view line) { return "\"" + printable(withoutPrefix(line)) + "\""; }

CaseMapping caseMappingNamed(std::string_view value) {
    if (value == "rfc1459")
        return CaseMapping::Rfc1459;
    if (value == "strict-rfc1459")
        return CaseMapping::StrictRfc1459;
    return CaseMapping::Ascii;
}

std::string ircFold(std::string_view name, CaseMapping mapping) {
    std::string folded(name);
    for (char& c : folded)
        c = lower(c, mapping);
    return folded;
}

bool ircNamesEqual(std::string_view a, std::string_view b, CaseMapping mapping) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i], mapping) != lower(b[i], mapping))
            return false;
    return true;
}
