#include "net/ServerAddress.h"

#include <cstring>
#include <netdb.h>
#include <netinet/in.h>

ServerAddress ServerAddress::resolve(const std::string& host, std::int32_t port) {
    ServerAddress result;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    // No AI_ADDRCONFIG: it hides ::1 on a host whose only IPv6 address is
    // the loopback one. An address that cannot be reached fails at connect
    // and the next one is tried.
    hints.ai_flags = AI_NUMERICSERV;
    // Only the low 16 bits of the configured number are a port.
    const std::string service = std::to_string(static_cast<std::uint16_t>(port));
    addrinfo* found = nullptr;
    const int status = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (status != 0) {
        result.resolverError = gai_strerror(status);
        return result;
    }
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6) ||
            entry->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        Endpoint endpoint;
        std::memcpy(&endpoint.storage, entry->ai_addr, entry->ai_addrlen);
        endpoint.length = entry->ai_addrlen;
        result.endpoints.push_back(endpoint);
    }
    freeaddrinfo(found);
    if (result.endpoints.empty())
        result.resolverError = "no IPv4 or IPv6 address";
    else
        result.outcome = Outcome::Resolved;
    return result;
}

std::string ServerAddress::describe(const Endpoint& endpoint) {
    char host[NI_MAXHOST];
    char port[NI_MAXSERV];
    if (getnameinfo(endpoint.get(), endpoint.length, host, sizeof host, port, sizeof port,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return "an address of unknown form";
    const bool v6 = endpoint.storage.ss_family == AF_INET6;
    return (v6 ? "[" + std::string(host) + "]" : std::string(host)) + " port " + port;
}
