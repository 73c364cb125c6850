// The SASL part of an IRC registration: capability negotiation (CAP LS,
// CAP REQ :sasl), AUTHENTICATE with PLAIN or EXTERNAL, then CAP END, all
// before the server may welcome us.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "irc/IRCMessage.h"

class SaslLogin {
public:
    enum class Progress { Continue, Done, Failed };
    // Longest piece of base64 one AUTHENTICATE line carries.
    static constexpr std::size_t kChunkBytes = 400;
    // The capability list is kept up to this: far above what real servers
    // list (a few kilobytes), and a server that goes on cannot grow it.
    static constexpr std::size_t kMaxCapabilityBytes = 64 * 1024;

    // A password means PLAIN; without one, EXTERNAL: the server knows us by
    // the TLS client certificate.
    SaslLogin(std::string user, std::string password);

    // The line that opens the registration; the server then holds the
    // welcome back until CAP END.
    static const char* openingLine() { return "CAP LS 302"; }
    // Whether a line with this command belongs to the exchange while it is
    // under way (the welcome does: it must not come before we are done).
    static bool handles(std::string_view command);
    // Takes one such line; what to send back is appended to replies.
    Progress onMessage(const IRCMessage& message, std::string_view line, std::vector<std::string>& replies);
    bool done() const { return step == Step::Done; }
    const char* mechanism() const { return password.empty() ? "EXTERNAL" : "PLAIN"; }
    // Why the exchange failed, with the server's own words.
    const std::string& failure() const { return why; }

private:
    enum class Step { ListingCaps, Requesting, Authenticating, AwaitingResult, Done };
    Progress onCapabilities(const IRCMessage& message, std::string_view line, std::vector<std::string>& replies);
    Progress onChallenge(const IRCMessage& message, std::string_view line, std::vector<std::string>& replies);
    Progress fail(const std::string& reason);
    void appendPayload(std::vector<std::string>& replies) const;

    std::string user;
    std::string password;
    Step step = Step::ListingCaps;
    std::string offered;  // the capabilities CAP LS listed so far
    bool capabilitiesCut = false;  // lines of the list beyond the bound were left out
    std::string why;
};
