// The hub link: NMDC commands ended by '|'. In main-chat lines (they begin
// with '<') '&', '$' and '|' are escaped as DC clients do; in other commands
// only '|' is escaped on sending, and "&#124;" and "&#36;" undone on receiving.
#pragma once

#include "net/Connection.h"

class DCConnection : public Connection {
public:
    // An unterminated command longer than this is no hub's: the longest
    // legitimate ones (a $MyINFO, a pasted chat block) stay far below it.
    static constexpr std::size_t kMaxIncompleteCommand = 4 * 1024 * 1024;

    ~DCConnection() override;
    bool readMessage(std::string& out) override;
    bool writeMessage(const std::string& message) override;
};

// '|' written as "&#124;"; '$' and '&' stay as they are.
std::string escapeDCText(const std::string& text);
// "&#124;" back to '|' and "&#36;" back to '$', in one pass.
std::string unescapeDCText(std::string_view text);
