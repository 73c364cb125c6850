#include "irc/CapNegotiation.h"

#include "frame/printable.h"

namespace {

// The value of capability in a CAP LS list ("a b=c"): empty for one
// without a value, nothing when the list lacks it.
std::optional<std::string_view> capabilityValue(std::string_view list, std::string_view capability) {
    return listedValue(list, ' ', capability);
}

bool names(std::string_view list, std::string_view capability) { return capabilityValue(list, capability).has_value(); }

}  // namespace

CapNegotiation::CapNegotiation(std::optional<SaslLogin> login, bool relaymsg)
    : sasl(std::move(login)), wantRelaymsg(relaymsg) {}

bool CapNegotiation::handles(std::string_view command) const {
    if (command == "CAP" || command == "410" || command == "421")
        return true;
    return sasl && (command == "001" || SaslLogin::handles(command));
}

CapNegotiation::Progress CapNegotiation::onMessage(const IRCMessage& message, std::string_view line,
                                                   std::vector<std::string>& replies) {
    if (step == Step::Done)
        return Progress::Done;
    if (message.is("CAP"))
        return onCapabilities(message, line, replies);
    if (message.command == "001") {
        if (sasl)
            return fail("the server welcomed us without a SASL log-in");
        return giveUpOn("the server welcomed us without negotiating capabilities");
    }
    if (message.command == "410" || message.command == "421") {
        if (sasl)
            return fail("the server does not negotiate capabilities: " + quotedIrcLine(line));
        return giveUpOn("the server does not negotiate capabilities: " + quotedIrcLine(line));
    }
    if (step != Step::Authenticating)
        return Progress::Continue;
    const SaslLogin::Progress progress = sasl->onMessage(message, line, replies);
    if (progress == SaslLogin::Progress::Failed)
        return fail(sasl->failure());
    return progress == SaslLogin::Progress::Done ? end(replies) : Progress::Continue;
}

// "CAP * LS * :a b" continues the list, "CAP * LS :c d" ends it; each REQ
// is answered by an ACK or a NAK naming what it asked for.
CapNegotiation::Progress CapNegotiation::onCapabilities(const IRCMessage& message, std::string_view line,
                                                        std::vector<std::string>& replies) {
    const std::string_view subcommand = message.param(1);
    if (subcommand == "LS" && step == Step::Listing) {
        if (offered.size() < kMaxCapabilityBytes) {
            offered += offered.empty() ? "" : " ";
            offered += message.lastParam();
        } else {
            capabilitiesCut = true;
        }
        const bool more = message.paramCount >= 4 && message.param(2) == "*";
        return more ? Progress::Continue : onListEnd(replies);
    }
    if ((subcommand == "ACK" || subcommand == "NAK") && step == Step::Requesting)
        return onAnswer(subcommand == "ACK", message.lastParam(), line, replies);
    return Progress::Continue;
}

// Relayed nicks are asked for first, in a REQ of their own, so that a
// refusal of them cannot take SASL with it.
CapNegotiation::Progress CapNegotiation::onListEnd(std::vector<std::string>& replies) {
    if (sasl) {
        const std::optional<std::string_view> mechanisms = capabilityValue(offered, "sasl");
        if (!mechanisms)
            return fail(notOffered("SASL") + (capabilitiesCut ? "" : "; it offers \"" + printable(offered) + "\""));
        if (const std::optional<std::string> why = sasl->unusableWith(*mechanisms))
            return fail(*why);
    }
    if (wantRelaymsg) {
        if (!names(offered, kRelaymsg)) {
            relayWhy = notOffered(kRelaymsg);
        } else {
            replies.push_back("CAP REQ :" + std::string(kRelaymsg) +
                              (names(offered, kMessageTags) ? " " + std::string(kMessageTags) : std::string()));
            ++unanswered;
        }
    }
    if (sasl) {
        replies.push_back("CAP REQ :sasl");
        ++unanswered;
    }
    step = Step::Requesting;
    return finishIfAnswered(replies);
}

// Why the server's list lacks a capability: it does not offer it, or
// offers more than we keep.
std::string CapNegotiation::notOffered(std::string_view name) const {
    return capabilitiesCut ? "the server's list of capabilities is longer than " + std::to_string(kMaxCapabilityBytes) +
                                 " bytes, and " + std::string(name) + " is not in the part kept"
                           : "the server does not offer " + std::string(name);
}

CapNegotiation::Progress CapNegotiation::onAnswer(bool granted, std::string_view answered, std::string_view line,
                                                  std::vector<std::string>& replies) {
    --unanswered;
    if (sasl && names(answered, "sasl")) {
        if (!granted)
            return fail("the server refused the sasl capability: " + quotedIrcLine(line));
        replies.push_back(sasl->firstLine());
        step = Step::Authenticating;
        return Progress::Continue;
    }
    if (names(answered, kRelaymsg)) {
        if (granted)
            separators = std::string(capabilityValue(offered, kRelaymsg).value_or(std::string_view()));
        else
            relayWhy = "the server refused " + std::string(kRelaymsg) + ": " + quotedIrcLine(line);
        if (granted && separators.empty())
            relayWhy = "the server grants " + std::string(kRelaymsg) + " without naming a separator";
    }
    return finishIfAnswered(replies);
}

CapNegotiation::Progress CapNegotiation::finishIfAnswered(std::vector<std::string>& replies) {
    return unanswered > 0 || step == Step::Authenticating ? Progress::Continue : end(replies);
}

CapNegotiation::Progress CapNegotiation::end(std::vector<std::string>& replies) {
    replies.push_back("CAP END");
    step = Step::Done;
    return Progress::Done;
}

// A server that ignores or refuses CAP registers us without: there is
// nothing to end.
CapNegotiation::Progress CapNegotiation::giveUpOn(const std::string& reason) {
    relayWhy = reason;
    step = Step::Done;
    return Progress::Done;
}

CapNegotiation::Progress CapNegotiation::fail(const std::string& reason) {
    why = reason;
    return Progress::Failed;
}
