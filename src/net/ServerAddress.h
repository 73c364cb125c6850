// A server's host name and port resolved to the IPv4 socket address both
// clients connect to. Resolving logs nothing: each client reports a failure
// in its own words.
#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>

struct ServerAddress {
    enum class Outcome { Resolved, NameNotFound, NotIPv4 };

    Outcome outcome = Outcome::NameNotFound;
    sockaddr_in address{};        // valid when Resolved
    std::string resolverError;    // the resolver's reason when NameNotFound

    // host resolved, with the low 16 bits of port as the port.
    static ServerAddress resolve(const std::string& host, std::int32_t port);

    const sockaddr* socketAddress() const { return reinterpret_cast<const sockaddr*>(&address); }
    socklen_t length() const { return sizeof address; }
};
