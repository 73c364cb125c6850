// The baseline for the relay benchmark: connects to the same two peers as
// brivox and copies bytes both ways unchanged, with no framing at all.
#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

static int connectTo(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0)
        std::exit(1);
    return fd;
}

static bool copy(int from, int to) {
    char buffer[65536];
    const ssize_t got = read(from, buffer, sizeof buffer);
    for (ssize_t done = 0; got > 0 && done < got;) {
        const ssize_t n = write(to, buffer + done, got - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return got > 0;
}

int main(int argc, char* argv[]) {
    if (argc != 3)
        return 2;
    const int a = connectTo(std::atoi(argv[1]));
    const int b = connectTo(std::atoi(argv[2]));
    for (;;) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(a, &set);
        FD_SET(b, &set);
        select((a > b ? a : b) + 1, &set, nullptr, nullptr, nullptr);
        if ((FD_ISSET(a, &set) && !copy(a, b)) || (FD_ISSET(b, &set) && !copy(b, a)))
            return 0;
    }
}
