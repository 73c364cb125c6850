// Decides which received lines cross to the other side and rewrites them:
// channel PRIVMSGs become hub chat lines spoken by the bot, hub chat lines of
// other users become PRIVMSGs to the channel, cut to fit, in UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "frame/Config.h"
#include "irc/IRCMessage.h"
#include "translator/HubCharset.h"
#include "translator/splitChat.h"

class Translator {
public:
    // One hub message gives at most this many IRC lines; the rest is cut.
    static constexpr std::size_t kMaxLinesPerHubMessage = 10;
    // A line as other users receive it, prefix included, without CR LF.
    static constexpr std::size_t kMaxRelayedLine = 510;

    Translator();
    Translator(const Translator&) = delete;
    Translator& operator=(const Translator&) = delete;
    Translator(Translator&&) = delete;
    Translator& operator=(Translator&&) = delete;

    // Copies the settings and opens the hub's character set. False when the
    // hub nick or the channel is empty or holds a NUL, or iconv does not know
    // the set; nothing changes then.
    bool setConfig(const Config& newConfig);
    // What the IRC server has told the bot: the case mapping our channel is
    // compared under, and our prefix, which lines are cut to make room for.
    void setServerView(const IRCServerView& view);

    // True when the IRC line is a PRIVMSG to our channel.
    bool acceptableIRCMessage(const std::string& line) const;
    // True when the hub line is a chat line of another user.
    bool acceptableDCMessage(const std::string& line) const;

    // A channel message as a hub line spoken by the bot: CTCP ACTION as
    // "* nick text", formatting removed, in the hub's set. Other CTCP and
    // ignored speakers are not relayed. The input may be the output string
    // itself; on false the output is untouched.
    bool IRCtoDC(const std::string& line, std::string& out) const;
    // A hub chat line as PRIVMSGs to the channel in UTF-8, one per line of
    // the message and cut to fit; "/me text" as a CTCP ACTION. On false out
    // is untouched.
    bool DCtoIRC(const std::string& line, std::vector<std::string>& out) const;

    const Config& getConfig() const;

private:
    // The parts of an accepted line, pointing into it.
    struct Speech {
        std::string_view nick;
        std::string_view text;
    };
    bool parseChannelMessage(std::string_view line, Speech& speech) const;
    bool parseHubChat(std::string_view line, Speech& speech) const;
    bool isIgnored(std::string_view nick, CaseMapping mapping) const;
    bool appendHubBody(std::string& out, std::string_view nick, std::string_view text) const;

    Config config;                          // the settings of the last accepted setConfig
    bool configured;                        // setConfig has succeeded
    HubCharset charset;                     // the hub's character set
    IRCServerView server;                   // what the IRC server told us
    std::vector<std::string> ignoredNicks;  // speakers never relayed
    std::string privmsgHead;                // "PRIVMSG <channel> :"
    // Reused from line to line, so that relaying allocates nothing once warm.
    mutable std::string scratch;
    mutable ChatPieces pieces;
};
