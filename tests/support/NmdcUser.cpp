#include "NmdcUser.h"

#include <stdexcept>

#include "ScriptedHub.h"

NmdcUser::NmdcUser(int port, const std::string& nick, const std::string& password)
    : socket(PeerSocket::connectTo(port)), ownNick(nick) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            throw std::runtime_error(nick + " was not let in");
        const std::string command = readCommand(left);
        if (command.compare(0, 6, "$Lock ") == 0) {
            const std::string lock = command.substr(6, command.find(' ', 6) - 6);
            send("$Supports NoGetINFO NoHello");
            send("$Key " + referenceKey(lock));
            send("$ValidateNick " + nick);
        } else if (command == "$GetPass") {
            send("$MyPass " + password);
        } else if (command == "$BadPass" || command.compare(0, 15, "$ValidateDenide") == 0) {
            throw std::runtime_error(nick + " was refused: " + command);
        } else if (command == "$Hello " + nick) {
            send("$Version 1,0091");
            send("$GetNickList");
            send("$MyINFO $ALL " + nick + " test user$ $100\x01$$0$");
        } else if (command.compare(0, 14 + nick.size(), "$MyINFO $ALL " + nick + " ") == 0) {
            return;
        }
    }
}

void NmdcUser::send(const std::string& command) { socket.send(command + "|"); }

std::string NmdcUser::readCommand(std::chrono::milliseconds deadline) { return socket.readUntil("|", deadline); }

void NmdcUser::say(const std::string& text) { send(clientEscape("<" + ownNick + "> " + text)); }

void NmdcUser::sayTo(const std::string& nick, const std::string& text) {
    send("$To: " + nick + " From: " + ownNick + " $" + clientEscape("<" + ownNick + "> " + text));
}

std::string NmdcUser::chatIn(const std::string& command) const {
    if (command.empty() || command[0] == '$')
        return std::string();
    const std::string plain = clientUnescape(command);
    const bool own = plain.compare(0, ownNick.size() + 2, "<" + ownNick + ">") == 0 ||
                     plain.compare(0, ownNick.size() + 2, "* " + ownNick) == 0 ||
                     plain.compare(0, ownNick.size() + 3, "** " + ownNick) == 0;
    return own ? std::string() : plain;
}

std::string NmdcUser::readChat(std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        const std::string command = readCommand(std::max(left, std::chrono::milliseconds(1)));
        if (command.compare(0, 5, "$To: ") == 0)
            privateLines.push_back(clientUnescape(command.substr(command.find('$', 1) + 1)));
        const std::string chat = chatIn(command);
        if (!chat.empty())
            return chat;
    }
}

std::string NmdcUser::readPrivate(std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (privateLines.empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        const std::string command = readCommand(std::max(left, std::chrono::milliseconds(1)));
        if (command.compare(0, 5, "$To: ") == 0)
            privateLines.push_back(clientUnescape(command.substr(command.find('$', 1) + 1)));
    }
    const std::string line = privateLines.front();
    privateLines.erase(privateLines.begin());
    return line;
}

std::vector<std::string> NmdcUser::chatFor(std::chrono::milliseconds window) {
    std::vector<std::string> lines;
    const auto end = std::chrono::steady_clock::now() + window;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return lines;
        try {
            const std::string chat = chatIn(readCommand(left));
            if (!chat.empty())
                lines.push_back(chat);
        } catch (const std::runtime_error&) {
            return lines;
        }
    }
}
