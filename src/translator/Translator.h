// What crosses between the two sides and how it reads on the other: channel
// chat is said on the hub by the bot as "<nick> text" ("* nick text" for an
// action) without IRC's formatting; hub chat is said in the channel as
// "<nick> text", one line per line of the message, cut to what an IRC line
// holds, the nick marked as the operator chose. Speakers in ignore_nicks are not relayed. The sides take care of
// their protocols: framing, escapes, character sets, the bot's echo.
#pragma once

#include <string>
#include <vector>

#include "frame/Config.h"
#include "frame/LogLimiter.h"
#include "net/ChatClient.h"
#include "translator/nickMarks.h"
#include "translator/splitChat.h"

class Translator {
public:
    // One hub message gives at most this many IRC lines; the rest is cut.
    static constexpr std::size_t kMaxLinesPerHubMessage = 10;

    Translator() = default;
    Translator(const Translator&) = delete;
    Translator& operator=(const Translator&) = delete;

    // Takes the settings it uses: the speakers never relayed.
    void setConfig(const Config& config);

    // Chat said in the channel (irc tells how its nicks compare) as the
    // texts the bot says on the hub, each at most room bytes after the bot's
    // own tag (hubs bound a message), each with the speaker's tag. False
    // when it does not cross; out is then untouched.
    bool IRCtoDC(const ChatMessage& chat, const ChatClient& irc, std::size_t room, std::vector<std::string>& out) const;
    // Chat said on the hub as the texts the bot says in the channel, each at
    // most room bytes (what one IRC message of the bot carries); a cut
    // message ends with a marker saying how much was left out. False when it
    // does not cross; out is then untouched.
    bool DCtoIRC(const ChatMessage& chat, const ChatClient& hub, std::size_t room, std::vector<std::string>& out) const;
    // The bytes of the speaker's tag that begin each text the last call
    // gave.
    std::size_t tagBytes() const { return scratch.size(); }
    // Whether what the speaker said or did may reach the other side or be
    // answered: a speaker that is a name, not in ignore_nicks.
    bool crosses(const ChatMessage& chat, const ChatClient& from) const;

private:
    bool splitTagged(const char* open, std::string_view speaker, NickMarks marks, const char* close,
                     std::string_view text, std::size_t room, std::vector<std::string>& out) const;

    std::vector<std::string> ignoredNicks;  // speakers never relayed
    NickMarks hubNickMarks;                 // how hub nicks read in the channel
    // Reused from message to message, so that relaying allocates nothing
    // once warm.
    mutable std::string scratch;
    mutable std::string plainText;
    mutable ChatPieces pieces;
    mutable LogLimiter cutMessages{"Translator: hub messages cut"};  // a hub's users can send many
};
