// A framing under test on one end of a socketpair, with the fuzzer's bytes
// already sent from the peer's end; the framing targets share it.
#pragma once

#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

#include "FuzzCheck.h"

// A connection of the framing that takes an open socket as its link.
template <typename Framing>
class AdoptingConnection : public Framing {
public:
    void adopt(int fd) {
        this->sockfd = fd;
        this->linkPhase = Framing::Phase::Open;
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
};

// The two ends: fds[0] for the connection, fds[1] the non-blocking peer
// that has sent input. False when the system gives no socketpair.
inline bool openPeerPair(int fds[2], std::string_view input) {
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return false;
    fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    FUZZ_CHECK(write(fds[1], input.data(), input.size()) == static_cast<ssize_t>(input.size()), "peer write");
    return true;
}

// Everything the peer's end can read now.
inline std::string drain(int fd) {
    std::string all;
    char chunk[4096];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0)
        all.append(chunk, static_cast<std::size_t>(got));
    return all;
}
