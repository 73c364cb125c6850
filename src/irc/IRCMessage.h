// One IRC line taken apart: "@tags :prefix COMMAND param param :trailing".
// The one parser of IRC lines: the client's routing and its chat both read
// lines through it.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The protocol's 512 bytes per line, less the CR LF.
constexpr std::size_t kMaxIrcLineBody = 510;
// Bytes that end a word of a command (a nick, a user name, a password).
constexpr std::string_view kIrcWordBreakers{"\0\r\n ", 4};
// ...a channel name: also a comma (a list) and a BEL.
constexpr std::string_view kIrcChannelBreakers{"\0\r\n ,\a", 6};
// ...a key of JOIN's key list.
constexpr std::string_view kIrcKeyBreakers{"\0\r\n ,", 5};
// Bytes no line may carry inside a text.
constexpr std::string_view kIrcLineBreakers{"\0\r\n", 3};

// The parts point into the line, which must outlive them.
struct IRCMessage {
    // A command has at most 15 parameters; what follows the 14th is the last.
    static constexpr std::size_t kMaxParams = 15;

    std::string_view tags;        // "a=b;c", without its '@'; empty when none
    std::string_view prefix;      // the sender, without its ':'; empty when none
    std::string_view command;     // "PRIVMSG", "KICK", "001", ...
    std::array<std::string_view, kMaxParams> params{};  // the trailing one without its ':'
    std::size_t paramCount = 0;

    // The command is word, in any letter case.
    bool is(std::string_view word) const;
    // The nick in the prefix: everything before '!' or '@'.
    std::string_view senderNick() const;
    // The prefix names a user: "nick", "nick@host" or "nick!user@host".
    bool fromUser() const;
    // The number of a numeric reply (433), or 0 for a command word.
    int number() const;
    // The parameter at index, or an empty text when there are fewer.
    std::string_view param(std::size_t index) const;
    // The raw value of the message tag key (empty for a tag without one);
    // nothing when the line has no such tag.
    std::optional<std::string_view> tag(std::string_view key) const;
    std::string_view lastParam() const { return paramCount > 0 ? params[paramCount - 1] : std::string_view(); }
};

// Runs of spaces between words are skipped.
IRCMessage parseIRCMessage(std::string_view line);

// The value of key in a list of "key" and "key=value" items separated by
// separator (message tags, capabilities): empty for an item without a
// value, nothing when the list lacks key.
std::optional<std::string_view> listedValue(std::string_view list, char separator, std::string_view key);

// The line without its ":prefix " (a line without a prefix stays whole).
std::string_view withoutPrefix(std::string_view line);
// The same, quoted and made printable for the log.
std::string quotedIrcLine(std::string_view line);

// How a server compares nicks and channel names (its CASEMAPPING): the
// letters regardless of case, and with RFC 1459 also "[]\\~" the same as
// "{}|^" (strict: without "~^").
enum class CaseMapping { Rfc1459, StrictRfc1459, Ascii };

// The mapping a CASEMAPPING value names; one we do not know compares letters
// only (Unicode mappings such as "rfc8265" agree with it on ASCII).
CaseMapping caseMappingNamed(std::string_view value);

bool ircNamesEqual(std::string_view a, std::string_view b, CaseMapping mapping = CaseMapping::Rfc1459);
// name in the lower case of the mapping: equal for names ircNamesEqual
// finds equal.
std::string ircFold(std::string_view name, CaseMapping mapping);

// What the server has told the bot that shapes the lines it sends.
struct IRCServerView {
    // How long ":nick!user@host " is when the server relays one of our
    // lines; until our JOIN shows it, room for the longest common host.
    std::size_t ownPrefixBytes = 1 + 30 + 1 + 10 + 1 + 63 + 1;
    CaseMapping caseMapping = CaseMapping::Rfc1459;
};
