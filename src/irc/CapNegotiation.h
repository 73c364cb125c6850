// The capability negotiation that opens a registration when the bot wants
// more than the base protocol: CAP LS 302, a CAP REQ for each thing wanted
// that the server offers, the SASL exchange when configured, then CAP END.
// The server holds the welcome back until CAP END.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "irc/IRCMessage.h"
#include "irc/SaslLogin.h"

class CapNegotiation {
public:
    enum class Progress { Continue, Done, Failed };
    // The capability list is kept up to this: far above what real servers
    // list (a few kilobytes), and a server that goes on cannot grow it.
    static constexpr std::size_t kMaxCapabilityBytes = 64 * 1024;
    // What lets a bot speak in a channel under the names of the people it
    // relays, and the tags that tell its own relayed lines when they come back.
    static constexpr std::string_view kRelaymsg = "draft/relaymsg";
    static constexpr std::string_view kMessageTags = "message-tags";

    // sasl: the log-in to make, when configured; wantRelaymsg: ask for
    // relayed nicks.
    CapNegotiation(std::optional<SaslLogin> sasl, bool wantRelaymsg);

    static const char* openingLine() { return "CAP LS 302"; }
    // Whether a line with this command belongs to the negotiation while it
    // is under way. With SASL the welcome does: it must not come before the
    // log-in; without, a welcome ends a negotiation the server ignored.
    bool handles(std::string_view command) const;
    // Takes one such line; what to send back is appended to replies.
    Progress onMessage(const IRCMessage& message, std::string_view line, std::vector<std::string>& replies);
    bool done() const { return step == Step::Done; }
    // The SASL log-in, when one was configured.
    const std::optional<SaslLogin>& saslLogin() const { return sasl; }
    // Why the negotiation failed (only a SASL log-in can make it fail).
    const std::string& failure() const { return why; }
    // The separators a relayed nick may hold, when the server granted
    // relayed nicks; empty otherwise.
    const std::string& relaySeparators() const { return separators; }
    // Why relayed nicks were wanted and not granted; empty when granted or
    // not wanted.
    const std::string& relayRefusal() const { return relayWhy; }

private:
    enum class Step { Listing, Requesting, Authenticating, Done };
    Progress onCapabilities(const IRCMessage& message, std::string_view line, std::vector<std::string>& replies);
    Progress onListEnd(std::vector<std::string>& replies);
    Progress onAnswer(bool granted, std::string_view names, std::string_view line, std::vector<std::string>& replies);
    Progress finishIfAnswered(std::vector<std::string>& replies);
    Progress end(std::vector<std::string>& replies);
    std::string notOffered(std::string_view name) const;
    Progress giveUpOn(const std::string& reason);
    Progress fail(const std::string& reason);

    std::optional<SaslLogin> sasl;
    bool wantRelaymsg;
    Step step = Step::Listing;
    std::string offered;              // the capabilities CAP LS listed so far
    bool capabilitiesCut = false;     // lines of the list beyond the bound were left out
    int unanswered = 0;               // CAP REQs the server has not answered yet
    std::string separators;
    std::string relayWhy;
    std::string why;
};
