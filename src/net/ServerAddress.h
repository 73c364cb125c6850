// Resolves a server's host name to the IPv4 socket address both clients
// connect to.
#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <string>

struct ServerAddress {
    // Log texts of the client that resolves: the prefix of the resolver
    // failure line and the whole unknown-family line.
    const char* resolverFailurePrefix;
    const char* unknownFamilyText;

    // Fills address from host and the low 16 bits of port. False, after
    // logging why, when the name does not resolve to an IPv4 address.
    bool resolve(const std::string& host, std::int32_t port, sockaddr_in& address) const;
};
