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
    // Reads the client's NICK and USER and welcomes it (001).
    void greet(const std::string& nick);
    // Reads the client's JOIN and confirms it as servers do.
    void confirmJoin(const std::string& nick, const std::string& channel = "#chat");
    // Both, for a client that runs on its own (the real binary).
    void welcome(const std::string& nick);
};
