#include "PeerSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

int millisLeft(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}
}  // namespace

PeerSocket::PeerSocket(int descriptor) : fd(descriptor) {}

PeerSocket::PeerSocket(PeerSocket&& other) noexcept : fd(other.fd), buffered(std::move(other.buffered)) {
    other.fd = -1;
}

PeerSocket::~PeerSocket() { close(); }

PeerSocket PeerSocket::connectTo(int port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
        ::close(s);
        throw std::runtime_error("connect to port " + std::to_string(port) + " refused");
    }
    return PeerSocket(s);
}

void PeerSocket::send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("test peer: send failed");
        }
        done += static_cast<std::size_t>(n);
    }
}

// One read of what arrives within wait; false at end of stream or time-out.
bool PeerSocket::fill(std::chrono::milliseconds wait) {
    if (fd < 0)
        return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(wait.count())) <= 0)
        return false;
    char chunk[65536];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0)
        return false;
    buffered.append(chunk, static_cast<std::size_t>(n));
    return true;
}

std::string PeerSocket::readUntil(const std::string& terminator, std::chrono::milliseconds deadline) {
    const Clock::time_point end = Clock::now() + deadline;
    for (;;) {
        const std::size_t at = buffered.find(terminator);
        if (at != std::string::npos) {
            std::string head = buffered.substr(0, at);
            buffered.erase(0, at + terminator.size());
            return head;
        }
        if (!fill(std::chrono::milliseconds(millisLeft(end))))
            throw std::runtime_error("test peer: no complete message (closed or timed out) after " +
                                     std::to_string(buffered.size()) + " bytes ending in \"" +
                                     buffered.substr(buffered.size() > 80 ? buffered.size() - 80 : 0) + "\"");
    }
}

std::string PeerSocket::readFor(std::chrono::milliseconds window) {
    const Clock::time_point end = Clock::now() + window;
    while (millisLeft(end) > 0)
        if (!fill(std::chrono::milliseconds(millisLeft(end))))
            break;
    std::string all;
    all.swap(buffered);
    return all;
}

bool PeerSocket::waitForClose(std::chrono::milliseconds deadline) {
    const Clock::time_point end = Clock::now() + deadline;
    while (millisLeft(end) > 0) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, millisLeft(end)) <= 0)
            return false;
        char chunk[65536];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
            return true;
        if (n > 0)
            buffered.append(chunk, static_cast<std::size_t>(n));
    }
    return false;
}

void PeerSocket::setReceiveBuffer(int bytes) { setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes); }

void PeerSocket::close() {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void PeerSocket::reset() {
    linger l{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close();
}
