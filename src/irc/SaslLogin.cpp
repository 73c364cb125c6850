#include "irc/SaslLogin.h"

#include "frame/printable.h"
#include "irc/base64.h"

namespace {

bool listsMechanism(std::string_view list, std::string_view mechanism) {
    std::size_t at = 0;
    while (at <= list.size()) {
        std::size_t end = list.find(',', at);
        if (end == std::string_view::npos)
            end = list.size();
        if (list.substr(at, end - at) == mechanism)
            return true;
        at = end + 1;
    }
    return false;
}

}  // namespace

SaslLogin::SaslLogin(std::string userName, std::string secret)
    : user(std::move(userName)), password(std::move(secret)) {}

std::optional<std::string> SaslLogin::unusableWith(std::string_view mechanisms) const {
    if (!mechanisms.empty() && !listsMechanism(mechanisms, mechanism()))
        return std::string("the server's SASL takes ") + printable(mechanisms) + ", not " + mechanism();
    return std::nullopt;
}

bool SaslLogin::handles(std::string_view command) {
    return command == "AUTHENTICATE" || (command.size() == 3 && command[0] == '9' && command[1] == '0');
}

SaslLogin::Progress SaslLogin::onMessage(const IRCMessage& message, std::string_view line,
                                         std::vector<std::string>& replies) {
    if (step == Step::Done)
        return Progress::Done;
    const std::string_view command = message.command;
    if (message.is("AUTHENTICATE"))
        return onChallenge(message, line, replies);
    if (command == "903" || command == "907") {  // success, or already logged in
        step = Step::Done;
        return Progress::Done;
    }
    if (command == "902" || command == "904" || command == "905" || command == "906")
        return fail("the server refused the log-in: " + quotedIrcLine(line));
    return Progress::Continue;  // 900 (logged in as), 908 (mechanisms): the result follows
}

// PLAIN and EXTERNAL both answer the server's empty challenge ("+").
SaslLogin::Progress SaslLogin::onChallenge(const IRCMessage& message, std::string_view line,
                                           std::vector<std::string>& replies) {
    if (step != Step::Authenticating || message.param(0) != "+")
        return fail("unexpected challenge: " + quotedIrcLine(line));
    appendPayload(replies);
    step = Step::AwaitingResult;
    return Progress::Continue;
}

// PLAIN: authorization and authentication identity, then the password,
// separated by NULs, in base64 pieces; a last piece of exactly the piece
// size (or no payload at all) is followed by "+".
void SaslLogin::appendPayload(std::vector<std::string>& replies) const {
    if (password.empty()) {
        replies.push_back("AUTHENTICATE +");
        return;
    }
    std::string plain = user;
    plain += '\0';
    plain += user;
    plain += '\0';
    plain += password;
    const std::string encoded = base64Encode(plain);
    for (std::size_t at = 0; at < encoded.size(); at += kChunkBytes)
        replies.push_back("AUTHENTICATE " + encoded.substr(at, kChunkBytes));
    if (encoded.size() % kChunkBytes == 0)
        replies.push_back("AUTHENTICATE +");
}

SaslLogin::Progress SaslLogin::fail(const std::string& reason) {
    why = reason;
    return Progress::Failed;
}
