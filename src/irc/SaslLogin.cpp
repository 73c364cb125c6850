#include "irc/SaslLogin.h"

#include "frame/printable.h"
#include "irc/base64.h"

namespace {

// The value of the "sasl" token in a capability list: nothing when absent,
// an empty text when it names no mechanisms.
bool findSaslToken(std::string_view capabilities, std::string_view& mechanisms) {
    std::size_t at = 0;
    while (at < capabilities.size()) {
        std::size_t end = capabilities.find(' ', at);
        if (end == std::string_view::npos)
            end = capabilities.size();
        const std::string_view token = capabilities.substr(at, end - at);
        if (token == "sasl" || token.substr(0, 5) == "sasl=") {
            mechanisms = token.size() > 5 ? token.substr(5) : std::string_view();
            return true;
        }
        at = end + 1;
    }
    return false;
}

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

std::string quoted(std::string_view line) { return "\"" + printable(withoutPrefix(line)) + "\""; }

}  // namespace

SaslLogin::SaslLogin(std::string userName, std::string secret)
    : user(std::move(userName)), password(std::move(secret)) {}

bool SaslLogin::handles(std::string_view command) {
    return command == "CAP" || command == "AUTHENTICATE" || command == "001" || command == "410" ||
           command == "421" || (command.size() == 3 && command[0] == '9' && command[1] == '0');
}

SaslLogin::Progress SaslLogin::onMessage(const IRCMessage& message, std::string_view line,
                                         std::vector<std::string>& replies) {
    if (step == Step::Done)
        return Progress::Done;
    const std::string_view command = message.command;
    if (message.is("CAP"))
        return onCapabilities(message, line, replies);
    if (message.is("AUTHENTICATE"))
        return onChallenge(message, line, replies);
    if (command == "903" || command == "907") {  // success, or already logged in
        replies.push_back("CAP END");
        step = Step::Done;
        return Progress::Done;
    }
    if (command == "902" || command == "904" || command == "905" || command == "906")
        return fail("the server refused the log-in: " + quoted(line));
    if (command == "001")
        return fail("the server welcomed us without a SASL log-in");
    if (command == "410" || command == "421")
        return fail("the server does not negotiate capabilities: " + quoted(line));
    return Progress::Continue;  // 900 (logged in as), 908 (mechanisms): the result follows
}

// "CAP * LS * :a b" continues the list, "CAP * LS :c d" ends it.
SaslLogin::Progress SaslLogin::onCapabilities(const IRCMessage& message, std::string_view line,
                                              std::vector<std::string>& replies) {
    const std::string_view subcommand = message.param(1);
    if (subcommand == "LS" && step == Step::ListingCaps) {
        const bool more = message.paramCount >= 4 && message.param(2) == "*";
        if (offered.size() < kMaxCapabilityBytes) {
            offered += offered.empty() ? "" : " ";
            offered += message.lastParam();
        } else {
            capabilitiesCut = true;
        }
        if (more)
            return Progress::Continue;
        std::string_view mechanisms;
        if (!findSaslToken(offered, mechanisms))
            return fail(capabilitiesCut ? "the server's list of capabilities is longer than " +
                                              std::to_string(kMaxCapabilityBytes) + " bytes, and SASL is not in the part kept"
                                        : "the server does not offer SASL; it offers \"" + printable(offered) + "\"");
        if (!mechanisms.empty() && !listsMechanism(mechanisms, mechanism()))
            return fail(std::string("the server's SASL takes ") + printable(mechanisms) + ", not " + mechanism());
        replies.push_back("CAP REQ :sasl");
        step = Step::Requesting;
        return Progress::Continue;
    }
    if (subcommand == "ACK" && step == Step::Requesting) {
        replies.push_back(std::string("AUTHENTICATE ") + mechanism());
        step = Step::Authenticating;
        return Progress::Continue;
    }
    if (subcommand == "NAK")
        return fail("the server refused the sasl capability: " + quoted(line));
    return Progress::Continue;
}

// PLAIN and EXTERNAL both answer the server's empty challenge ("+").
SaslLogin::Progress SaslLogin::onChallenge(const IRCMessage& message, std::string_view line,
                                           std::vector<std::string>& replies) {
    if (step != Step::Authenticating || message.param(0) != "+")
        return fail("unexpected challenge: " + quoted(line));
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
