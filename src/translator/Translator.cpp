#include "translator/Translator.h"

#include <cstring>

#include "frame/Log.h"

namespace {

// The sender's prefix: a nick, then an optional "@host" or "!user@host".
// The host may hold ':' so that IPv6 addresses shown as hosts pass; nick and
// user may not.
const char ircPatternHead[] = ":[^:!@ ]+((![^:!@ ]+)?@[^!@ ]+)? PRIVMSG ";
const char ircPatternTail[] = " :.*";
const char privmsgWord[] = "PRIVMSG ";

// "<nick> text", the nick free of '$', '\', '|', '<', '>' and space.
const char dcPatternText[] = "<[^$\\|<> ]+> .*";

const char regexSpecials[] = "$()*+.?[\\]^{|";

}  // namespace

std::string escapeChannelForRegex(const std::string& channel) {
    std::string escaped;
    escaped.reserve(channel.size() * 2);
    for (char c : channel) {
        if (c != '\0' && std::strchr(regexSpecials, c) != nullptr)
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

Translator::Translator() : configured(false), ircPattern(), dcPattern() {}

Translator::~Translator() { freePatterns(); }

void Translator::freePatterns() {
    if (!configured)
        return;
    regfree(&ircPattern);
    regfree(&dcPattern);
    configured = false;
}

bool Translator::setConfig(const Config& newConfig) {
    if (newConfig.dc.dc_nick.empty() || newConfig.irc.irc_channel.empty())
        return false;
    // The pattern is compiled from a C string: a channel holding a NUL would
    // give a pattern for another, shorter channel, and the rewrite would then
    // look for the text past the end of the line.
    if (newConfig.irc.irc_channel.find('\0') != std::string::npos ||
        newConfig.dc.dc_nick.find('\0') != std::string::npos)
        return false;
    config = newConfig;
    freePatterns();

    const std::string ircText =
        ircPatternHead + escapeChannelForRegex(config.irc.irc_channel) + ircPatternTail;
    int code = regcomp(&ircPattern, ircText.c_str(), REG_EXTENDED);
    if (code != 0) {
        logMessage(Warning, "Translator::setConfig(): Can not compile regex for IRC. regcomp(3) returned " +
                                std::to_string(code));
        return false;
    }
    code = regcomp(&dcPattern, dcPatternText, REG_EXTENDED);
    if (code != 0) {
        logMessage(Warning, "Translator::setConfig(): Can not compile regex for DC. regcomp(3) returned " +
                                std::to_string(code));
        regfree(&ircPattern);
        return false;
    }
    configured = true;
    return true;
}

bool Translator::wholeLineMatches(const regex_t& pattern, const std::string& line,
                                  const char* operation) const {
    regmatch_t match[1];
    const int code = regexec(&pattern, line.c_str(), 1, match, 0);
    if (code == REG_NOMATCH)
        return false;
    if (code != 0) {
        logMessage(Warning, std::string("Translator::") + operation + "(): regexec(3) returned " +
                                std::to_string(code));
        return false;
    }
    // regexec sees the line only up to a NUL byte, so a line holding one
    // never matches to its full length.
    return match[0].rm_so == 0 && static_cast<std::size_t>(match[0].rm_eo) == line.size();
}

bool Translator::acceptableIRCMessage(const std::string& line) const {
    return configured && wholeLineMatches(ircPattern, line, "acceptableIRCMessage");
}

bool Translator::acceptableDCMessage(const std::string& line) const {
    if (!configured || !wholeLineMatches(dcPattern, line, "acceptableDCMessage"))
        return false;
    // The hub echoes our own chat lines back to us.
    const std::string ownTag = "<" + config.dc.dc_nick + "> ";
    return line.compare(0, ownTag.size(), ownTag) != 0;
}

bool Translator::IRCtoDC(const std::string& line, std::string& out) const {
    if (!acceptableIRCMessage(line))
        return false;
    const std::size_t nickEnd = line.find_first_of(" !@");
    const std::string nick = line.substr(1, nickEnd - 1);
    // The accepted line is "<prefix> PRIVMSG <channel> :<text>" and the prefix
    // holds no space, so the text starts at a fixed distance from the first
    // space, whatever colons the host or the channel hold.
    const std::size_t prefixEnd = line.find(' ');
    const std::size_t textStart =
        prefixEnd + 1 + std::strlen(privmsgWord) + config.irc.irc_channel.size() + 2;
    std::string result = "<" + config.dc.dc_nick + "> <" + nick + "> " + line.substr(textStart);
    out.swap(result);
    return true;
}

bool Translator::DCtoIRC(const std::string& line, std::string& out) const {
    if (!acceptableDCMessage(line))
        return false;
    std::string result = "PRIVMSG " + config.irc.irc_channel + " :" + line;
    out.swap(result);
    return true;
}

const Config& Translator::getConfig() const { return config; }
