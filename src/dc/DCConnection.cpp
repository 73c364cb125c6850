#include "dc/DCConnection.h"

#include "dc/nmdcEscapes.h"
#include "frame/Log.h"

namespace {

NmdcText kindOf(std::string_view command) { return isNmdcChatLine(command) ? NmdcText::Chat : NmdcText::Command; }

}  // namespace

DCConnection::~DCConnection() = default;

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
    // Every escape begins with '&'.
    if (command.find('&') == std::string_view::npos)
        out.assign(command);
    else
        out = unescapeNmdc(command, kindOf(command));
    inbuf.consume(end + 1);
    return true;
}

bool DCConnection::writeMessage(const std::string& message) {
    if (!isConnected())
        return false;
    // Most text has nothing to escape and goes into the buffer without a copy.
    const NmdcText kind = kindOf(message);
    const bool plain = !needsNmdcEscapes(message, kind);
    const std::string escaped = plain ? std::string() : escapeNmdc(message, kind);
    const std::string& text = plain ? message : escaped;
    if (logEnabled(Traffic))
        logMessage(Traffic, trafficLine("to ", sockfd, text));
    outbuf.append(text);
    outbuf.append("|");
    _write();
    return true;
}
