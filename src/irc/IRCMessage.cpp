#include "irc/IRCMessage.h"

#include <algorithm>

namespace {

const std::string kNoParameter;

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

// The prefix of line (empty when it has none), moving at to the command.
std::string_view skipToCommand(std::string_view line, std::size_t& at) {
    if (!line.empty() && line[0] == '@')
        nextWord(line, at);
    while (at < line.size() && line[at] == ' ')
        ++at;
    if (at >= line.size() || line[at] != ':')
        return std::string_view();
    ++at;
    return nextWord(line, at);
}

}  // namespace

std::string_view ircCommandOf(std::string_view line) {
    std::size_t at = 0;
    skipToCommand(line, at);
    return nextWord(line, at);
}

IRCMessage parseIRCMessage(std::string_view line) {
    IRCMessage message;
    std::size_t at = 0;
    message.prefix = std::string(skipToCommand(line, at));
    message.command = std::string(nextWord(line, at));
    for (;;) {
        while (at < line.size() && line[at] == ' ')
            ++at;
        if (at >= line.size())
            break;
        if (line[at] == ':') {
            message.params.emplace_back(line.substr(at + 1));
            break;
        }
        message.params.emplace_back(nextWord(line, at));
    }
    return message;
}

std::string IRCMessage::senderNick() const { return prefix.substr(0, prefix.find_first_of("!@")); }

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

const std::string& IRCMessage::param(std::size_t index) const {
    return index < params.size() ? params[index] : kNoParameter;
}

std::string withoutPrefix(const std::string& line) {
    if (line.empty() || line[0] != ':')
        return line;
    const std::size_t space = line.find(' ');
    return space == std::string::npos ? line : line.substr(space + 1);
}

CaseMapping caseMappingNamed(std::string_view value) {
    if (value == "rfc1459")
        return CaseMapping::Rfc1459;
    if (value == "strict-rfc1459")
        return CaseMapping::StrictRfc1459;
    return CaseMapping::Ascii;
}

bool ircNamesEqual(std::string_view a, std::string_view b, CaseMapping mapping) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i], mapping) != lower(b[i], mapping))
            return false;
    return true;
}
