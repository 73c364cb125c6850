// One IRC line taken apart: ":prefix COMMAND param param :trailing".
#pragma once

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

// Nicks and channel names compared as servers do by default (RFC 1459): the
// letters regardless of case, and "[]\~" the same as "{}|^".
bool ircNamesEqual(std::string_view a, std::string_view b);
