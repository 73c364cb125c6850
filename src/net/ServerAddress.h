// Resolves a server's host name to the IPv4 socket address both clients
// connect to, and opens the connection.
#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <string>

#include "net/Connection.h"

struct ServerAddress {
    // Log texts of the client that resolves: the prefix of the resolver
    // failure line and the whole unknown-family line.
    const char* resolverFailurePrefix;
    const char* unknownFamilyText;
    const char* connectFailureText;

    // Fills address from host and the low 16 bits of port. False, after
    // logging why, when the name does not resolve to an IPv4 address.
    bool resolve(const std::string& host, std::int32_t port, sockaddr_in& address) const;
    // Resolves host and opens connection to it. False, after logging why,
    // when either fails.
    bool connect(Connection& connection, const std::string& host, std::int32_t port) const;
};
