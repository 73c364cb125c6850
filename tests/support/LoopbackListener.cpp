#include "LoopbackListener.h"

#include "Eventually.h"

#include <arpa/inet.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

LoopbackListener::LoopbackListener(bool ipv6) {
    fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_storage storage{};
    socklen_t size;
    if (ipv6) {
        auto* addr = reinterpret_cast<sockaddr_in6*>(&storage);
        addr->sin6_family = AF_INET6;
        addr->sin6_addr = in6addr_loopback;
        size = sizeof *addr;
    } else {
        auto* addr = reinterpret_cast<sockaddr_in*>(&storage);
        addr->sin_family = AF_INET;
        addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        size = sizeof *addr;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&storage), size) < 0 || listen(fd, 16) < 0)
        throw std::runtime_error("bind/listen failed");
    getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &size);
    boundPort = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                           : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
}

LoopbackListener::~LoopbackListener() { close(); }

void LoopbackListener::close() {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

sockaddr_in LoopbackListener::address() const {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(boundPort));
    return addr;
}

std::unique_ptr<PeerSocket> LoopbackListener::accept(std::chrono::milliseconds deadline) {
    pollfd p{fd, POLLIN, 0};
    if (fd < 0 || poll(&p, 1, static_cast<int>(deadline.count())) <= 0)
        return nullptr;
    const int client = ::accept(fd, nullptr, nullptr);
    if (client < 0)
        return nullptr;
    return std::make_unique<PeerSocket>(client);
}

int freeLoopbackPort() {
    LoopbackListener probe;
    return probe.port();
}

bool waitUntilListening(int port, std::chrono::milliseconds deadline) {
    return eventually([&] {
        try {
            PeerSocket probe = PeerSocket::connectTo(port);
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }, deadline);
}

bool ipv6LoopbackAvailable() {
    try {
        LoopbackListener probe(true);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
