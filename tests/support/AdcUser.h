// A plain ADC client for the tests: logs in to a real hub as a guest (or
// with a password), says things in the main chat and reads what others say
// there, as "<nick> text".
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "PeerSocket.h"

class AdcUser {
public:
    // Connects and logs in; throws when the hub does not let it in.
    AdcUser(int port, const std::string& nick, const std::string& password = "");

    // One main-chat message (it may hold newlines); an action with me.
    void say(const std::string& text, bool me = false);
    // A private message to the user of that nick, which the hub knows.
    void sayTo(const std::string& nick, const std::string& text);
    // The next private message to us: "<nick> text".
    std::string readPrivate(std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // The next main-chat message of another user: "<nick> text", or
    // "* nick text" for an action.
    std::string readChat(std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // Every main-chat message of others within the window.
    std::vector<std::string> chatFor(std::chrono::milliseconds window);
    void close() { socket.close(); }

private:
    std::string readLine(std::chrono::milliseconds deadline);
    // A chat message in the line, or an empty text; keeps track of nicks.
    std::string chatIn(const std::string& line, bool privately = false);

    PeerSocket socket;
    std::string sid;
    std::map<std::string, std::string> nicks;
};
