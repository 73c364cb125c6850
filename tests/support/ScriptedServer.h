// What the scripted IRC server and the scripted hub share: a loopback
// listener and the one client connected to it at a time.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "LoopbackListener.h"

class ScriptedServer {
public:
    int port() const { return listener.port(); }
    // Waits for the client to connect (replacing an earlier one).
    void accept(std::chrono::milliseconds deadline = std::chrono::seconds(10));
    bool hasClient() const { return client != nullptr; }
    // Raw bytes the client sent within the window.
    std::string readFor(std::chrono::milliseconds window);
    bool clientClosed(std::chrono::milliseconds deadline = std::chrono::seconds(5));
    void dropClient();
    void stopListening() { listener.close(); }
    // The link to the client, for callers that read it their own way.
    PeerSocket& socket() { return *client; }

protected:
    explicit ScriptedServer(const char* name, bool ipv6 = false) : listener(ipv6), serverName(name) {}

    LoopbackListener listener;
    std::unique_ptr<PeerSocket> client;
    const char* serverName;  // for error messages
};
