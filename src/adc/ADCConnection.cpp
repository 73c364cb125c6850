#include "adc/ADCConnection.h"

#include "frame/Log.h"

ADCConnection::~ADCConnection() = default;

// The socket is read only when no complete line is buffered, once per
// call: a peer that streams empty lines cannot keep us here.
bool ADCConnection::readMessage(std::string& out) {
    if (inbuf.findTerminator("\n") == ByteBuffer::npos && isConnected())
        _read();
    for (;;) {
        const std::size_t end = inbuf.findTerminator("\n");
        if (end == ByteBuffer::npos) {
            if (isConnected() && inbuf.size() > kMaxIncompleteLine)
                dropOverLimit("ADCConnection::readMessage()", "an unterminated line", inbuf.size(),
                              kMaxIncompleteLine);
            return false;
        }
        if (end == 0) {
            inbuf.consume(1);
            continue;
        }
        const std::string_view line = inbuf.view().substr(0, end);
        if (logEnabled(Traffic))
            logMessage(Traffic, trafficLine("from ", sockfd, line));
        out.assign(line);
        inbuf.consume(end + 1);
        return true;
    }
}

bool ADCConnection::writeMessage(const std::string& message) {
    if (!isConnected() || message.find('\n') != std::string::npos)
        return false;
    if (logEnabled(Traffic))
        logMessage(Traffic, trafficLine("to ", sockfd, message));
    outbuf.append(message);
    outbuf.append("\n");
    _write();
    return true;
}
