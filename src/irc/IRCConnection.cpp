#include "irc/IRCConnection.h"

#include <algorithm>
#include <cstring>

#include "frame/Log.h"
#include "frame/LogLimiter.h"

namespace {

const char kLineEnd[] = "\r\n";

// A server may send such lines one after the other.
LogLimiter longLines("IRCConnection::readMessage(): over-long lines dropped");

}  // namespace

IRCConnection::~IRCConnection() = default;

// Only the last guard: chat is cut to fit before it gets here. It still
// backs off to a UTF-8 character's first byte rather than leave half of one.
std::string cleanIRCLine(const std::string& text) {
    std::size_t length = std::min(text.size(), kMaxIrcLineBody);
    while (length < text.size() && length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;
    std::string line = text.substr(0, length);
    for (char& c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    return line;
}

bool IRCConnection::readMessage(std::string& out) {
    // The socket is read only when no complete line is buffered: one read
    // serves a whole burst. After the peer closed the link, the complete
    // lines it sent before are still handed out.
    std::size_t end = inbuf.findTerminator(kLineEnd);
    if (end == ByteBuffer::npos && isConnected()) {
        _read();
        end = inbuf.findTerminator(kLineEnd);
    }
    // A line longer than the protocol allows is no one's chat: it is skipped
    // rather than relayed as a huge hub command.
    while (end != ByteBuffer::npos && end > kMaxReceivedLine) {
        if (longLines.admits(Notice))
            logMessage(Notice, "IRCConnection::readMessage(): a line of " + std::to_string(end) +
                                   " bytes from descriptor " + std::to_string(sockfd) + " is longer than the " +
                                   std::to_string(kMaxReceivedLine) + " the protocol allows; dropped");
        inbuf.consume(end + 2);
        end = inbuf.findTerminator(kLineEnd);
    }
    if (end == ByteBuffer::npos) {
        if (isConnected() && inbuf.size() > kMaxIncompleteLine)
            dropOverLimit("IRCConnection::readMessage()", "an unterminated line", inbuf.size(),
                          kMaxIncompleteLine);
        return false;
    }
    out.assign(inbuf.view().substr(0, end));
    if (logEnabled(Traffic))
        logMessage(Traffic, trafficLine("from ", sockfd, out));
    inbuf.consume(end + 2);
    return true;
}

bool IRCConnection::writeMessage(const std::string& message) {
    if (!isConnected())
        return false;
    // Most lines need no cleaning and go into the buffer without a copy.
    const bool needsCleaning = message.size() > kMaxIrcLineBody ||
                               std::memchr(message.data(), '\r', message.size()) != nullptr ||
                               std::memchr(message.data(), '\n', message.size()) != nullptr;
    const std::string cleaned = needsCleaning ? cleanIRCLine(message) : std::string();
    const std::string& line = needsCleaning ? cleaned : message;
    outbuf.append(line);
    if (logEnabled(Traffic))
        logMessage(Traffic, trafficLine("to ", sockfd, line));
    outbuf.append(kLineEnd);
    _write();
    return true;
}
