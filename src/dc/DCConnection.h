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
// '$' separates the fields of $MyINFO.
constexpr std::string_view kNmdcFieldBreakers{"\0\r\n$", 4};

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
