// The SASL part of an IRC registration, once the server has granted the
// sasl capability: AUTHENTICATE with PLAIN or EXTERNAL and the server's
// verdict. The capability negotiation around it is CapNegotiation's.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "irc/IRCMessage.h"

class SaslLogin {
public:
    enum class Progress { Continue, Done, Failed };
    // Longest piece of base64 one AUTHENTICATE line carries.
    static constexpr std::size_t kChunkBytes = 400;

    // A password means PLAIN; without one, EXTERNAL: the server knows us by
    // the TLS client certificate.
    SaslLogin(std::string user, std::string password);

    // Why the mechanisms the server's sasl capability names (none: any)
    // do not let us log in; nothing when they do.
    std::optional<std::string> unusableWith(std::string_view mechanisms) const;
    // The line that starts the exchange once the capability is granted.
    std::string firstLine() const { return std::string("AUTHENTICATE ") + mechanism(); }
    // Whether a line with this command belongs to the exchange.
    static bool handles(std::string_view command);
    // Takes one such line; what to send back is appended to replies.
    Progress onMessage(const IRCMessage& message, std::string_view line, std::vector<std::string>& replies);
    const char* mechanism() const { return password.empty() ? "EXTERNAL" : "PLAIN"; }
    // Why the exchange failed, with the server's own words.
    const std::string& failure() const { return why; }

private:
    enum class Step { Authenticating, AwaitingResult, Done };
    Progress onChallenge(const IRCMessage& message, std::string_view line, std::vector<std::string>& replies);
    Progress fail(const std::string& reason);
    void appendPayload(std::vector<std::string>& replies) const;

    std::string user;
    std::string password;
    Step step = Step::Authenticating;
    std::string why;
};
