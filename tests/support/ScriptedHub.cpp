#include "ScriptedHub.h"

#include <stdexcept>
#include <vector>

namespace {

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

void require(bool condition, const std::string& what) {
    if (!condition)
        throw std::runtime_error("scripted hub: " + what);
}

}  // namespace

std::string referenceKey(const std::string& lock) {
    const std::size_t n = lock.size();
    std::vector<unsigned> bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<unsigned char>(lock[i]);
    std::vector<unsigned> key(n);
    key[0] = bytes[0] ^ bytes[n - 1] ^ bytes[n - 2] ^ 5u;
    for (std::size_t i = 1; i < n; ++i)
        key[i] = bytes[i] ^ bytes[i - 1];
    std::string out;
    for (unsigned value : key) {
        value = ((value * 16u) | (value / 16u)) & 0xFFu;
        switch (value) {
        case 0: case 5: case 36: case 96: case 124: case 126: {
            const std::string digits = std::to_string(value);
            out += "/%DCN" + std::string(3 - digits.size(), '0') + digits + "%/";
            break;
        }
        default:
            out += static_cast<char>(value);
        }
    }
    return out;
}

std::string hubUnescape(std::string text) {
    return replaceAll(replaceAll(std::move(text), "&#124;", "|"), "&#36;", "$");
}

// What DC clients do to what their users type.
std::string clientEscape(const std::string& text) {
    std::string escaped;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool startsEntity = text.compare(i, 5, "&amp;") == 0 || text.compare(i, 5, "&#36;") == 0 ||
                                  text.compare(i, 6, "&#124;") == 0;
        if (text[i] == '&' && startsEntity)
            escaped += "&amp;";
        else if (text[i] == '$')
            escaped += "&#36;";
        else if (text[i] == '|')
            escaped += "&#124;";
        else
            escaped += text[i];
    }
    return escaped;
}

std::string clientUnescape(const std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 5, "&#36;") == 0) {
            plain += '$';
            i += 5;
        } else if (text.compare(i, 6, "&#124;") == 0) {
            plain += '|';
            i += 6;
        } else if (text.compare(i, 5, "&amp;") == 0) {
            plain += '&';
            i += 5;
        } else {
            plain += text[i++];
        }
    }
    return plain;
}

HubUserInfo parseMyInfo(const std::string& command) {
    const std::string head = "$MyINFO $ALL ";
    require(command.compare(0, head.size(), head) == 0, "not a $MyINFO $ALL: " + command);
    const std::string rest = command.substr(head.size());
    HubUserInfo info;
    const std::size_t space = rest.find(' ');
    require(space != std::string::npos, "no space after the nick: " + command);
    info.nick = rest.substr(0, space);
    std::vector<std::string> fields;
    std::size_t start = space + 1;
    for (std::size_t dollar; (dollar = rest.find('$', start)) != std::string::npos; start = dollar + 1)
        fields.push_back(rest.substr(start, dollar - start));
    require(fields.size() == 5 && fields[1] == " ", "malformed $MyINFO: " + command);
    info.description = hubUnescape(fields[0]);
    require(!fields[2].empty(), "no connection field: " + command);
    info.speed = hubUnescape(fields[2].substr(0, fields[2].size() - 1));
    info.statusByte = static_cast<unsigned char>(fields[2].back());
    info.email = hubUnescape(fields[3]);
    info.shareSize = hubUnescape(fields[4]);
    return info;
}

void ScriptedHub::send(const std::string& command) { client->send(command + "|"); }

std::string ScriptedHub::readCommand(std::chrono::milliseconds deadline) { return client->readUntil("|", deadline); }

void ScriptedHub::sendLock(const std::string& lock, const std::string& extra) {
    lastLock = lock;
    client->send("$Lock " + lock + " Pk=scriptedhub|" + (extra.empty() ? "" : extra + "|"));
}

void ScriptedHub::expectKey() {
    std::string command = readCommand();
    if (lastLock.compare(0, 16, "EXTENDEDPROTOCOL") == 0) {
        require(command.compare(0, 10, "$Supports ") == 0, "expected $Supports before the key, got " + command);
        command = readCommand();
    }
    require(command == "$Key " + referenceKey(lastLock), "the key does not answer the lock: " + command);
}

std::string ScriptedHub::expectValidateNick() {
    const std::string command = readCommand();
    const std::string head = "$ValidateNick ";
    require(command.compare(0, head.size(), head) == 0, "expected $ValidateNick, got " + command);
    return command.substr(head.size());
}

HubUserInfo ScriptedHub::login(const HubLoginScript& script) {
    sendLock(script.lock, script.extraWithLock);
    expectKey();
    std::string asked = expectValidateNick();
    // A refused nick, and the link is closed: the client comes back.
    for (int i = 0; i < script.refusals; ++i) {
        send(script.refusalsNameTheNick ? "$ValidateDenide " + asked : "$ValidateDenide");
        dropClient();
        accept();
        sendLock(script.lock, script.extraWithLock);
        expectKey();
        asked = expectValidateNick();
    }
    if (!script.password.empty()) {
        send("$GetPass");
        const std::string answer = readCommand();
        require(answer == "$MyPass " + script.password, "wrong password answer: " + answer);
    }
    nick = script.helloNick.empty() ? asked : script.helloNick;
    send("$Hello " + nick);
    return welcome(script.usersPresent, script.withWelcome);
}

HubUserInfo ScriptedHub::welcome(const std::vector<std::string>& usersPresent, const std::string& withList) {
    listed.clear();
    const std::string version = readCommand();
    require(version == "$Version 1,0096", "expected $Version 1,0096, got " + version);
    const std::string request = readCommand();
    require(request == "$GetNickList", "expected $GetNickList, got " + request);
    const std::string myInfo = readCommand();
    const HubUserInfo info = parseMyInfo(myInfo);
    require(info.nick == nick, "$MyINFO names " + info.nick + ", not " + nick);
    std::string list = myInfo + "|$MyINFO $ALL Hub-Security $ $$$$";
    for (const std::string& user : usersPresent) {
        list += "|$MyINFO $ALL " + user + " $ $DSL\x01$$0$";
        listed.insert(user);
    }
    send(list + "|$OpList Hub-Security$$" + (withList.empty() ? "" : "|" + withList));
    return info;
}

void ScriptedHub::userComes(const std::string& user) {
    if (listed.insert(user).second)
        send("$MyINFO $ALL " + user + " $ $DSL\x01$$0$");
}

std::string ScriptedHub::readChat(std::chrono::milliseconds deadline) {
    for (;;) {
        const std::string command = readCommand(deadline);
        if (!command.empty() && command[0] == '$')
            continue;
        const std::string tag = "<" + nick + "> ";
        require(command.compare(0, tag.size(), tag) == 0,
                "chat line does not carry the client's nick " + nick + ": " + command);
        require(command.find('$') == std::string::npos, "unescaped '$' in a chat line: " + command);
        return clientUnescape(command);
    }
}

void ScriptedHub::userSays(const std::string& speaker, const std::string& text) {
    userComes(speaker);
    send(clientEscape("<" + speaker + "> " + text));
}
