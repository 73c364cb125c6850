// The link to an ADC hub: messages are lines ended by a newline; the
// escapes live inside their parameters (adcEscapes), so the framing has
// none. An empty line is a keep-alive and is not a message.
#pragma once

#include "net/Connection.h"

class ADCConnection : public Connection {
public:
    // An unterminated line longer than this is no hub's: hubs refuse far
    // shorter lines from their users (uhub: 4 KiB).
    static constexpr std::size_t kMaxIncompleteLine = 1024 * 1024;

    ~ADCConnection() override;
    bool readMessage(std::string& out) override;
    // message must not hold a newline: its parameters are escaped.
    bool writeMessage(const std::string& message) override;
};
