#include "dc/DCConnection.h"

#include <algorithm>

#include "dc/chatEscapes.h"
#include "frame/Log.h"

namespace {

const char kPipeEscape[] = "&#124;";
const char kDollarEscape[] = "&#36;";

bool isChatLine(std::string_view text) { return !text.empty() && text[0] == '<'; }

bool startsWith(std::string_view text, std::size_t at, std::string_view prefix) {
    return text.compare(at, prefix.size(), prefix) == 0;
}

}  // namespace

DCConnection::~DCConnection() = default;

std::string escapeDCText(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        if (c == '|')
            escaped += kPipeEscape;
        else
            escaped += c;
    }
    return escaped;
}

// Neither escape can overlap the other or be produced by a replacement, so
// one left-to-right pass gives what replacing each in turn would give.
std::string unescapeDCText(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t amp = text.find('&', at);
        if (amp == std::string_view::npos) {
            plain.append(text.substr(at));
            break;
        }
        plain.append(text.substr(at, amp - at));
        if (startsWith(text, amp, kPipeEscape)) {
            plain += '|';
            at = amp + sizeof kPipeEscape - 1;
        } else if (startsWith(text, amp, kDollarEscape)) {
            plain += '$';
            at = amp + sizeof kDollarEscape - 1;
        } else {
            plain += '&';
            at = amp + 1;
        }
    }
    return plain;
}

bool DCConnection::readMessage(std::string& out) {
    // The socket is read only when no complete command is buffered: one
    // read serves a whole burst. After the peer closed the link, the
    // complete commands it sent before are still handed out.
    std::size_t end = inbuf.findTerminator("|");
    if (end == ByteBuffer::npos && isConnected()) {
        _read();
        end = inbuf.findTerminator("|");
    }
    if (end == ByteBuffer::npos) {
        if (isConnected() && inbuf.size() > kMaxIncompleteCommand)
            dropOverLimit("DCConnection::readMessage()", "an unterminated command", inbuf.size(),
                          kMaxIncompleteCommand);
        return false;
    }
    const std::string_view command = inbuf.view().substr(0, end);
    if (logEnabled(Traffic))
        logMessage(Traffic, trafficLine("from ", sockfd, command));
    // Main-chat lines carry the escapes DC clients write; commands keep the
    // framing's own two. Every escape begins with '&'.
    if (command.find('&') == std::string_view::npos)
        out.assign(command);
    else
        out = isChatLine(command) ? unescapeDCChat(command) : unescapeDCText(command);
    inbuf.consume(end + 1);
    return true;
}

bool DCConnection::writeMessage(const std::string& message) {
    if (!isConnected())
        return false;
    // Most text has nothing to escape and goes into the buffer without a copy.
    const bool chat = isChatLine(message);
    const bool plain = std::none_of(message.begin(), message.end(),
                                    [chat](char c) { return c == '|' || (chat && (c == '&' || c == '$')); });
    const std::string escaped = plain ? std::string() : chat ? escapeDCChat(message) : escapeDCText(message);
    const std::string& text = plain ? message : escaped;
    if (logEnabled(Traffic))
        logMessage(Traffic, trafficLine("to ", sockfd, text));
    outbuf.append(text);
    outbuf.append("|");
    _write();
    return true;
}
