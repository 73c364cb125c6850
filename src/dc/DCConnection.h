// The hub link: NMDC commands ended by '|'. Main-chat lines (they begin
// with '<') carry the escapes DC clients write; other commands only those
// of the framing (nmdcEscapes).
#pragma once

#include <string_view>

#include "net/Connection.h"

// A word of a command (a host name, a password) ends at a space or a line
// break.
constexpr std::string_view kNmdcWordBreakers{"\0\r\n ", 4};
// A hub nick ends at NMDC's separators, a space or a line break.
constexpr std::string_view kNmdcNickBreakers{"\0\r\n $|<>", 8};
// A field of $MyINFO holds neither its separator '$' nor the command's end
// '|', nor a control byte.
constexpr char kNmdcFieldBreakerBytes[] =
    "\0\x01\x02\x03\x04\x05\x06\x07\x08\t\n\x0b\x0c\r\x0e\x0f"
    "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f\x7f$|";
constexpr std::string_view kNmdcFieldBreakers{kNmdcFieldBreakerBytes, sizeof kNmdcFieldBreakerBytes - 1};
static_assert(kNmdcFieldBreakers.size() == 32 + 3, "every control byte, DEL, '$' and '|'");

class DCConnection : public Connection {
public:
    // An unterminated command longer than this is no hub's: the longest
    // legitimate ones (a $MyINFO, a pasted chat block) stay far below it.
    static constexpr std::size_t kMaxIncompleteCommand = 4 * 1024 * 1024;

    ~DCConnection() override;
    bool readMessage(std::string& out) override;
    bool writeMessage(const std::string& message) override;
};

// Main-chat lines begin with the speaker's tag.
inline bool isNmdcChatLine(std::string_view command) { return !command.empty() && command[0] == '<'; }
