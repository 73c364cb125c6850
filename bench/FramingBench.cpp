// Time per message to take N framed messages out of one buffered burst, for
// both framings. The figures should stay flat as N grows.
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "dc/DCConnection.h"
#include "irc/IRCConnection.h"

namespace {

// A connection whose socket is an idle socket pair and whose input buffer is
// preloaded with a whole burst, so only the framing is measured.
template <typename Base>
class Preloaded : public Base {
public:
    explicit Preloaded(const std::string& burst) {
        socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
        fcntl(pair[0], F_SETFL, O_NONBLOCK);
        this->sockfd = pair[0];
        this->linkPhase = Connection::Phase::Open;
        this->inbuf.append(burst);
    }
    ~Preloaded() override { close(pair[1]); }

private:
    int pair[2];
};

template <typename Base>
double nanosPerMessage(int count, const std::string& message, const char* terminator) {
    std::string burst;
    for (int i = 0; i < count; ++i)
        burst += message + terminator;
    Preloaded<Base> connection(burst);
    std::string out;
    const auto start = std::chrono::steady_clock::now();
    int taken = 0;
    while (connection.readMessage(out))
        ++taken;
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (taken != count)
        std::fprintf(stderr, "took %d of %d messages\n", taken, count);
    return std::chrono::duration<double, std::nano>(elapsed).count() / count;
}

}  // namespace

int main() {
    const std::string ircLine = ":alice!al@host.example PRIVMSG #chat :a line of ordinary chat text";
    const std::string hubCommand = "$MyINFO $ALL alice some description&#124;x$ $DSL\x01$a@b.c$1234567$";
    std::printf("%-8s %10s %14s\n", "framing", "messages", "ns/message");
    for (int count : {1000, 10000, 100000})
        std::printf("%-8s %10d %14.1f\n", "irc", count, nanosPerMessage<IRCConnection>(count, ircLine, "\r\n"));
    for (int count : {1000, 10000, 100000})
        std::printf("%-8s %10d %14.1f\n", "hub", count, nanosPerMessage<DCConnection>(count, hubCommand, "|"));
    return 0;
}
