// A scripted NMDC hub for one client at a time, for what real hubs will not
// do on purpose. It behaves as PtokaX and Verlihub do otherwise: an
// extended lock wants the client's $Supports before its key, the key must
// answer the lock, a refused nick closes the link, the client is listed
// (its $MyINFO back) only after its $MyINFO, users already there are named
// only when asked with $GetNickList, a user is listed before it speaks, and
// every main-chat line the client sends must start with "<" and its
// current nick. Tests drive it step by step; each read has a deadline and a
// mismatch throws.
#pragma once

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ScriptedServer.h"

// The fields of a "$MyINFO $ALL " command.
struct HubUserInfo {
    std::string nick;
    std::string description;
    std::string speed;         // the connection text without its status byte
    int statusByte = -1;
    std::string email;
    std::string shareSize;
};

// How the hub plays the login.
struct HubLoginScript {
    std::string lock = "EXTENDEDPROTOCOL_brivox_test_lock";
    std::string extraWithLock = "$Supports NoGetINFO|$HubName Scripted hub";  // sent with the lock
    int refusals = 0;              // "$ValidateDenide" answers before accepting
    bool refusalsNameTheNick = false;  // "$ValidateDenide <nick>" as real hubs send
    std::string password;          // ask for it with $GetPass when not empty
    std::string helloNick;         // the nick in $Hello; empty: the one asked for
    std::string withWelcome;       // commands sent in the same write as the hub's list of users
    std::vector<std::string> usersPresent;  // named when the client asks for the list
};

class ScriptedHub : public ScriptedServer {
public:
    // On ::1 instead of 127.0.0.1 when ipv6.
    explicit ScriptedHub(bool ipv6 = false) : ScriptedServer("scripted hub", ipv6) {}

    // The whole login as scripted; returns the client's user information.
    HubUserInfo login(const HubLoginScript& script = HubLoginScript());
    // Single steps of a login.
    void sendLock(const std::string& lock, const std::string& extra = "");
    // The client's $Supports (after an extended lock), then its key.
    void expectKey();
    std::string expectValidateNick();
    // After "$Hello nick": the client's $Version, $GetNickList and $MyINFO;
    // then the hub lists it among usersPresent.
    HubUserInfo welcome(const std::vector<std::string>& usersPresent = {}, const std::string& withList = "");
    // A user comes (its $MyINFO), unless already listed.
    void userComes(const std::string& nick);

    // The next command from the client, as on the wire (escaped, without '|').
    std::string readCommand(std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // The next main-chat line, after checking its speaker tag and that it is
    // escaped as DC clients escape chat; other commands are skipped.
    // Returned unescaped.
    std::string readChat(std::chrono::milliseconds deadline = std::chrono::seconds(5));
    // Sends commands, each followed by '|'.
    void send(const std::string& command);
    // A chat line from another hub user, escaped as DC clients do.
    void userSays(const std::string& nick, const std::string& text);

    const std::string& currentNick() const { return nick; }
    void setNick(const std::string& newNick) { nick = newNick; }

private:
    std::string lastLock;
    std::string nick;
    std::set<std::string> listed;  // users the client was told of
};

// The key that answers lock, computed here independently of the daemon.
std::string referenceKey(const std::string& lock);
HubUserInfo parseMyInfo(const std::string& command);
// "&#124;" and "&#36;" back to '|' and '$', as in commands.
std::string hubUnescape(std::string text);
// Chat as DC clients write it ('&' before an escape, '$', '|') and read it.
std::string clientEscape(const std::string& text);
std::string clientUnescape(const std::string& text);
