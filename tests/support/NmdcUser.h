// A plain NMDC client for the tests: logs in to a real hub as DC clients do
// (with a password when it has one), says things in the main chat and
// privately, and reads what others say there.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "PeerSocket.h"

class NmdcUser {
public:
    // Connects and logs in; throws when the hub does not list it within
    // the deadline.
    NmdcUser(int port, const std::string& nick, const std::string& password = "");

    // One main-chat message (it may hold newlines), escaped as DC clients do.
    void say(const std::string& text);
    void sayTo(const std::string& nick, const std::string& text);
    // The next main-chat line of another user, unescaped: "<nick> text",
    // or the hub's broadcast of an action ("* nick text", "** nick text").
    std::string readChat(std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // The next private message to us: "<nick> text".
    std::string readPrivate(std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // Every main-chat line of others within the window.
    std::vector<std::string> chatFor(std::chrono::milliseconds window);
    // A raw command, '|' added.
    void send(const std::string& command);
    const std::string& nick() const { return ownNick; }

private:
    std::string readCommand(std::chrono::milliseconds deadline);
    // The command as chat of another user, or empty.
    std::string chatIn(const std::string& command) const;

    PeerSocket socket;
    std::string ownNick;
    std::vector<std::string> privateLines;
};
