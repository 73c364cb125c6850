// A server's host name (or IPv4 or IPv6 address) and port resolved to the
// socket addresses a client tries in turn. Resolving logs nothing: each
// client reports a failure in its own words.
#pragma once

#include <cstdint>
#include <string>
#include <sys/socket.h>
#include <vector>

struct ServerAddress {
    enum class Outcome { Resolved, NameNotFound };

    // One address of the server, as connect(2) takes it.
    struct Endpoint {
        sockaddr_storage storage{};
        socklen_t length = 0;
        const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    };

    Outcome outcome = Outcome::NameNotFound;
    std::vector<Endpoint> endpoints;  // in the resolver's order; not empty when Resolved
    std::string resolverError;        // the resolver's reason when NameNotFound

    // host resolved for both address families, with the low 16 bits of port
    // as the port.
    static ServerAddress resolve(const std::string& host, std::int32_t port);
    // "192.0.2.1 port 6667", "[2001:db8::1] port 6667": for log lines.
    static std::string describe(const Endpoint& endpoint);
};
