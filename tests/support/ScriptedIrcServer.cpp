#include "ScriptedIrcServer.h"

#include <stdexcept>

std::string ScriptedIrcServer::readLine(std::chrono::milliseconds deadline) {
    return client->readUntil("\r\n", deadline);
}

void ScriptedIrcServer::sendLine(const std::string& line) { client->send(line + "\r\n"); }

void ScriptedIrcServer::sendRaw(const std::string& bytes) { client->send(bytes); }

void ScriptedIrcServer::greet(const std::string& nick) {
    for (const char* command : {"NICK ", "USER "}) {
        const std::string line = readLine();
        if (line.compare(0, 5, command) != 0)
            throw std::runtime_error("scripted IRC server: expected " + std::string(command) + "got " + line);
    }
    sendLine(":irc.scripted 001 " + nick + " :Welcome");
}

void ScriptedIrcServer::confirmJoin(const std::string& nick, const std::string& channel) {
    const std::string line = readLine();
    if (line != "JOIN " + channel)
        throw std::runtime_error("scripted IRC server: expected JOIN " + channel + ", got " + line);
    sendLine(":" + nick + "!bot@scripted JOIN :" + channel);
}

void ScriptedIrcServer::welcome(const std::string& nick) {
    greet(nick);
    confirmJoin(nick);
}
