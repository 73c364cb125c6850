// Drives one client the way the relay loop does (its timed work, a share of
// its input, the wait on its socket, the opening of its link), for tests
// that play its peer. Chat the client hands over is collected.
#pragma once

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "net/ChatClient.h"

class ClientLoop {
public:
    explicit ClientLoop(ChatClient& client) : client(client) {}

    // One pass, waiting at most wait for the socket.
    void pass(std::chrono::milliseconds wait = std::chrono::milliseconds(20));
    // Passes until done() holds; false after the deadline.
    template <typename Done>
    bool runUntil(Done done, std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
        const auto end = std::chrono::steady_clock::now() + deadline;
        for (;;) {
            pass();
            if (done())
                return true;
            if (std::chrono::steady_clock::now() >= end)
                return false;
        }
    }
    // Passes until the peer's script, run on another thread, has ended;
    // rethrows what it threw.
    void runWhile(std::future<void>& script, std::chrono::milliseconds deadline = std::chrono::seconds(10));
    // Passes until the client is in its channel, or down.
    bool untilUp() { return runUntil([&] { return client.isConnected(); }); }
    bool untilDown() { return runUntil([&] { return client.state() == LinkState::Down; }); }
    // Passes until a log-in has started (when it is due) and its link is
    // open; false when the attempt fails first.
    bool open();

    // "speaker: text", or "* speaker text" for an action.
    std::vector<std::string> chat;
    // "private carol: text", "joined alice", "left bob"...
    std::vector<std::string> others;

private:
    ChatClient& client;
};
