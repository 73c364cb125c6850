// A plain IRC client for the tests: connects to a real server, registers,
// joins, talks and waits for what others say.
#pragma once

#include <chrono>
#include <string>

#include "PeerSocket.h"

class IrcUser {
public:
    // Connects and registers; waits for the welcome.
    IrcUser(int port, const std::string& nick);
    ~IrcUser();

    void join(const std::string& channel);
    void say(const std::string& target, const std::string& text);
    void sendLine(const std::string& line);
    // The next line holding part (PINGs answered, others skipped).
    std::string waitFor(const std::string& part, std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // Every line received within the window.
    std::string linesFor(std::chrono::milliseconds window);
    const std::string& nick() const { return name; }

private:
    PeerSocket socket;
    std::string name;
};
