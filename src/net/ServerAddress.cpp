#include "net/ServerAddress.h"

#include <cstring>
#include <netdb.h>

#include "frame/Log.h"
#include "platform.h"

bool ServerAddress::resolve(const std::string& host, std::int32_t port, sockaddr_in& address) const {
    const hostent* entry = gethostbyname(host.c_str());
    if (entry == nullptr) {
        logMessage(Error, "Can not resolve name \"" + host + "\"");
        logMessage(Error, std::string(resolverFailurePrefix) + hstrerror(h_errno));
        return false;
    }
    if (entry->h_addrtype != AF_INET) {
        logMessage(Error, unknownFamilyText);
        return false;
    }
    std::memset(&address, 0, sizeof address);
#ifdef HAVE_SOCKADDR_IN_SIN_LEN
    address.sin_len = sizeof address;
#endif
    address.sin_family = AF_INET;
    // Only the low 16 bits of the configured number are a port.
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    std::memcpy(&address.sin_addr, entry->h_addr_list[0], sizeof address.sin_addr);
    return true;
}

bool ServerAddress::connect(Connection& connection, const std::string& host, std::int32_t port) const {
    sockaddr_in address;
    if (!resolve(host, port, address))
        return false;
    if (connection.Connect(reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        logMessage(Error, connectFailureText);
        return false;
    }
    return true;
}
