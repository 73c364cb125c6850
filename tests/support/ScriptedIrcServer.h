// A scripted IRC server for one client at a time: the test reads the lines
// the client sends and writes the server's replies itself.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "ScriptedServer.h"

class ScriptedIrcServer : public ScriptedServer {
public:
    ScriptedIrcServer() : ScriptedServer("scripted IRC server") {}
    // The next line from the client, without CR LF.
    std::string readLine(std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // Sends one line with CR LF, or raw bytes as they are.
    void sendLine(const std::string& line);
    void sendRaw(const std::string& bytes);
    // Reads the client's NICK, USER and JOIN and welcomes it.
    void welcome(const std::string& nick);
};
