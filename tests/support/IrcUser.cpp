#include "IrcUser.h"

#include <stdexcept>

IrcUser::IrcUser(int port, const std::string& nick) : socket(PeerSocket::connectTo(port)), name(nick) {
    sendLine("NICK " + nick);
    sendLine("USER " + nick + " 0 * :test user");
    waitFor(" 001 ");
}

IrcUser::~IrcUser() {
    try {
        sendLine("QUIT");
    } catch (const std::exception&) {
    }
}

void IrcUser::sendLine(const std::string& line) { socket.send(line + "\r\n"); }

void IrcUser::join(const std::string& channel) {
    sendLine("JOIN " + channel);
    waitFor(" 366 ");
}

void IrcUser::say(const std::string& target, const std::string& text) {
    sendLine("PRIVMSG " + target + " :" + text);
}

std::string IrcUser::waitFor(const std::string& part, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            throw std::runtime_error(name + ": no line with \"" + part + "\"");
        const std::string line = socket.readUntil("\r\n", left);
        if (line.compare(0, 5, "PING ") == 0)
            sendLine("PONG " + line.substr(5));
        else if (line.find(part) != std::string::npos)
            return line;
    }
}

std::string IrcUser::linesFor(std::chrono::milliseconds window) { return socket.readFor(window); }
