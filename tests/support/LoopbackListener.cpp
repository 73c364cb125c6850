#include "LoopbackListener.h"

#include <arpa/inet.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

LoopbackListener::LoopbackListener() {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 || listen(fd, 16) < 0)
        throw std::runtime_error("bind/listen failed");
    socklen_t size = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
    boundPort = ntohs(addr.sin_port);
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
