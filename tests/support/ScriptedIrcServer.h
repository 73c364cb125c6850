// A scripted IRC server for one client at a time: the test reads the lines
// the client sends and writes the server's replies itself.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "LoopbackListener.h"

class ScriptedIrcServer {
public:
    int port() const { return listener.port(); }
    // Waits for the client to connect (replacing an earlier one).
    void accept(std::chrono::milliseconds deadline = std::chrono::seconds(10));
    bool hasClient() const { return client != nullptr; }
    // The next line from the client, without CR LF.
    std::string readLine(std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // Sends one line with CR LF, or raw bytes as they are.
    void sendLine(const std::string& line);
    void sendRaw(const std::string& bytes);
    // What the client sent within the window, raw.
    std::string readFor(std::chrono::milliseconds window);
    // Reads the client's NICK, USER and JOIN and welcomes it.
    void welcome(const std::string& nick);
    bool clientClosed(std::chrono::milliseconds deadline = std::chrono::seconds(5));
    void dropClient();
    void stopListening() { listener.close(); }
    // The link to the client, for callers that read it their own way.
    PeerSocket& socket() { return *client; }

private:
    LoopbackListener listener;
    std::unique_ptr<PeerSocket> client;
};
