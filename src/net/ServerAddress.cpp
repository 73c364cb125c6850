#include "net/ServerAddress.h"

#include <cstring>
#include <arpa/inet.h>
#include <netdb.h>

#include "platform.h"

ServerAddress ServerAddress::resolve(const std::string& host, std::int32_t port) {
    ServerAddress result;
#ifdef HAVE_SOCKADDR_IN_SIN_LEN
    result.address.sin_len = sizeof result.address;
#endif
    result.address.sin_family = AF_INET;
    // Only the low 16 bits of the configured number are a port.
    result.address.sin_port = htons(static_cast<std::uint16_t>(port));
    // A dotted address needs no resolver (nor its files and modules).
    if (inet_pton(AF_INET, host.c_str(), &result.address.sin_addr) == 1) {
        result.outcome = Outcome::Resolved;
        return result;
    }
    const hostent* entry = gethostbyname(host.c_str());
    if (entry == nullptr) {
        result.resolverError = hstrerror(h_errno);
        return result;
    }
    if (entry->h_addrtype != AF_INET) {
        result.outcome = Outcome::NotIPv4;
        return result;
    }
    std::memcpy(&result.address.sin_addr, entry->h_addr_list[0], sizeof result.address.sin_addr);
    result.outcome = Outcome::Resolved;
    return result;
}
