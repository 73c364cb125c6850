#include "AdcUser.h"

#include <stdexcept>

#include "adc/ADCMessage.h"
#include "adc/adcEscapes.h"
#include "adc/tiger.h"
#include "net/base32.h"

namespace {

std::string unescaped(std::string_view parameter) {
    std::string text;
    if (!adcUnescape(parameter, text))
        throw std::runtime_error("bad escape in \"" + std::string(parameter) + "\"");
    return text;
}

}  // namespace

AdcUser::AdcUser(int port, const std::string& nick, const std::string& password)
    : socket(PeerSocket::connectTo(port)) {
    socket.send("HSUP ADBASE ADTIGR\n");
    for (std::string line = readLine(std::chrono::seconds(5));; line = readLine(std::chrono::seconds(5)))
        if (line.compare(0, 5, "ISID ") == 0) {
            sid = line.substr(5, 4);
            break;
        }
    const std::string pid = tigerHash(nick + " test user");
    socket.send("BINF " + sid + " ID" + base32Encode(tigerHash(pid)) + " PD" + base32Encode(pid) + " NI" +
                adcEscape(nick) + " DEtest\\suser\n");
    for (;;) {
        const std::string line = readLine(std::chrono::seconds(5));
        ADCMessage message;
        if (!parseADCMessage(line, message))
            continue;
        if (message.is("IGPA"))
            socket.send("HPAS " +
                        base32Encode(tigerHash(password + base32Decode(message.parameters[0]).value())) + "\n");
        else if (message.is("ISTA") && message.parameters[0][0] == '2')
            throw std::runtime_error(nick + " was refused: " + line);
        else if (message.is("BINF") && message.parameters[0] == sid)
            return;
        else
            chatIn(line);
    }
}

std::string AdcUser::readLine(std::chrono::milliseconds deadline) { return socket.readUntil("\n", deadline); }

void AdcUser::say(const std::string& text, bool me) {
    socket.send("BMSG " + sid + " " + adcEscape(text) + (me ? " ME1" : "") + "\n");
}

void AdcUser::sayTo(const std::string& nick, const std::string& text) {
    for (const auto& [to, known] : nicks)
        if (known == nick) {
            socket.send("EMSG " + sid + " " + to + " " + adcEscape(text) + " PM" + sid + "\n");
            return;
        }
    throw std::runtime_error("no user " + nick + " on the hub");
}

std::string AdcUser::readPrivate(std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        const std::string said = chatIn(readLine(std::max(left, std::chrono::milliseconds(1))), true);
        if (!said.empty())
            return said;
    }
}

std::string AdcUser::chatIn(const std::string& line, bool privately) {
    ADCMessage message;
    if (!parseADCMessage(line, message) || message.parameters.empty())
        return std::string();
    const std::string from(message.parameters[0]);
    if (message.is("BINF")) {
        if (const auto nick = message.named("NI", 1))
            nicks[from] = unescaped(*nick);
        return std::string();
    }
    if (privately ? !(message.is("EMSG") || message.is("DMSG")) || message.parameters.size() < 3 ||
                        message.parameters[1] != sid
                  : !message.is("BMSG") || from == sid || message.parameters.size() < 2)
        return std::string();
    if (privately)
        return "<" + nicks[from] + "> " + unescaped(message.parameters[2]);
    const std::string text = unescaped(message.parameters[1]);
    return message.named("ME", 2) ? "* " + nicks[from] + " " + text : "<" + nicks[from] + "> " + text;
}

std::string AdcUser::readChat(std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        const std::string chat = chatIn(readLine(std::max(left, std::chrono::milliseconds(1))));
        if (!chat.empty())
            return chat;
    }
}

std::vector<std::string> AdcUser::chatFor(std::chrono::milliseconds window) {
    std::vector<std::string> chat;
    const auto end = std::chrono::steady_clock::now() + window;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return chat;
        try {
            const std::string said = chatIn(readLine(left));
            if (!said.empty())
                chat.push_back(said);
        } catch (const std::runtime_error&) {
            return chat;
        }
    }
}
