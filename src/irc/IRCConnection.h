// The IRC server link: lines ended by CR LF.
#pragma once

#include "irc/IRCMessage.h"
#include "net/Connection.h"

class IRCConnection : public Connection {
public:
    // An unterminated line longer than this is not IRC (the protocol allows
    // 512 bytes; message tags add at most 8 KiB): the peer is dropped.
    static constexpr std::size_t kMaxIncompleteLine = 64 * 1024;
    // A received line may carry up to 8 KiB of message tags besides.
    static constexpr std::size_t kMaxReceivedLine = kMaxIrcLineBody + 8192;

    ~IRCConnection() override;
    bool readMessage(std::string& out) override;
    bool writeMessage(const std::string& message) override;
};

// The text with CR and LF turned into spaces and cut to kMaxIrcLineBody bytes.
std::string cleanIRCLine(const std::string& text);
