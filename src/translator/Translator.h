// Decides which received lines cross to the other side and rewrites them:
// channel PRIVMSGs become hub chat lines spoken by the bot, hub chat lines of
// other users become PRIVMSGs to the channel.
#pragma once

#include <regex.h>
#include <string>

#include "frame/Config.h"

class Translator {
public:
    Translator();
    ~Translator();
    Translator(const Translator&) = delete;
    Translator& operator=(const Translator&) = delete;
    Translator(Translator&&) = delete;
    Translator& operator=(Translator&&) = delete;

    // Copies the settings and compiles both patterns. False when the hub nick
    // or the channel is empty or holds a NUL (nothing changes) or a pattern
    // does not compile.
    bool setConfig(const Config& newConfig);

    // True when the IRC line is a PRIVMSG to our channel.
    bool acceptableIRCMessage(const std::string& line) const;
    // True when the hub line is a chat line of another user.
    bool acceptableDCMessage(const std::string& line) const;

    // Rewrites an acceptable line into the other side's form. The input may be
    // the output string itself; on false the output is untouched.
    bool IRCtoDC(const std::string& line, std::string& out) const;
    bool DCtoIRC(const std::string& line, std::string& out) const;

    const Config& getConfig() const;

private:
    bool wholeLineMatches(const regex_t& pattern, const std::string& line, const char* operation) const;
    void freePatterns();

    Config config;         // the settings of the last accepted setConfig
    bool configured;       // true exactly while both patterns are compiled
    regex_t ircPattern;    // channel messages
    regex_t dcPattern;     // hub chat lines
};

// The channel with a backslash before each byte that is special in an
// extended regular expression (the right brace stays bare).
std::string escapeChannelForRegex(const std::string& channel);
