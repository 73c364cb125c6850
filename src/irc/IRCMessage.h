// One IRC line taken apart: ":prefix COMMAND param param :trailing".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct IRCMessage {
    std::string prefix;               // the sender, without its ':'; empty when none
    std::string command;              // "PRIVMSG", "KICK", "001", ...
    std::vector<std::string> params;  // the trailing parameter last, without its ':'

    // The nick in the prefix: everything before '!' or '@'.
    std::string senderNick() const;
    // The number of a numeric reply (433), or 0 for a command word.
    int number() const;
    // The parameter at index, or an empty text when there are fewer.
    const std::string& param(std::size_t index) const;
};

// Message tags ("@a=b ") are skipped; so are runs of spaces between words.
IRCMessage parseIRCMessage(std::string_view line);

// Only the command word of line, without taking the rest apart: most lines
// are chat, which the client need not look into.
std::string_view ircCommandOf(std::string_view line);

// The line without its ":prefix " (a line without a prefix stays whole).
std::string withoutPrefix(const std::string& line);

// How a server compares nicks and channel names (its CASEMAPPING): the
// letters regardless of case, and with RFC 1459 also "[]\\~" the same as
// "{}|^" (strict: without "~^").
enum class CaseMapping { Rfc1459, StrictRfc1459, Ascii };

// The mapping a CASEMAPPING value names; one we do not know compares letters
// only (Unicode mappings such as "rfc8265" agree with it on ASCII).
CaseMapping caseMappingNamed(std::string_view value);

bool ircNamesEqual(std::string_view a, std::string_view b, CaseMapping mapping = CaseMapping::Rfc1459);

// What the server has told the bot that shapes the lines it sends.
struct IRCServerView {
    // How long ":nick!user@host " is when the server relays one of our
    // lines; until our JOIN shows it, room for the longest common host.
    std::size_t ownPrefixBytes = 1 + 30 + 1 + 10 + 1 + 63 + 1;
    CaseMapping caseMapping = CaseMapping::Rfc1459;
};
