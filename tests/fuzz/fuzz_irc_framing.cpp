// IRC line framing through the real IRCConnection, on one end of a
// socketpair. Properties: the lines read are exactly the input's CR LF-ended
// lines, in order, less those longer than the protocol allows; every line
// written goes out as one line of at most 512 bytes with its CR LF, with no
// other CR or LF in it. The lines read also go through the SASL exchange
// of a registration, whose answers must be lines of the same kind, and which
// never counts as done without the server's word for it.
#include <unistd.h>
#include <vector>

#include "FuzzCheck.h"
#include "FuzzSocketPair.h"
#include "irc/IRCConnection.h"
#include "irc/SaslLogin.h"

namespace {

std::vector<std::string> linesOf(std::string_view bytes) {
    std::vector<std::string> lines;
    for (std::size_t end; (end = bytes.find("\r\n")) != std::string_view::npos; bytes.remove_prefix(end + 2))
        if (end <= IRCConnection::kMaxReceivedLine)
            lines.emplace_back(bytes.substr(0, end));
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 60000)  // what one socket buffer surely takes
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    int fds[2];
    if (!openPeerPair(fds, input))
        return 0;

    AdoptingConnection<IRCConnection> connection;
    connection.adopt(fds[0]);
    std::vector<std::string> read;
    std::string line;
    while (connection.readMessage(line))
        read.push_back(line);
    FUZZ_CHECK(read == linesOf(input), "the lines read are the input's lines");

    SaslLogin sasl("bridge", input.size() % 2 ? std::string("secret") : std::string());
    for (const std::string& serverLine : read) {
        const IRCMessage message = parseIRCMessage(serverLine);
        if (!SaslLogin::handles(message.command))
            continue;
        std::vector<std::string> replies;
        const SaslLogin::Progress progress = sasl.onMessage(message, serverLine, replies);
        FUZZ_CHECK(replies.size() <= 2, "one server line is answered with at most two lines");
        for (const std::string& reply : replies)
            FUZZ_CHECK(reply.size() <= 510 && !holdsAny(reply, std::string_view("\0\r\n", 3)),
                       "a SASL answer is one line");
        if (progress == SaslLogin::Progress::Done) {
            FUZZ_CHECK(message.command == "903" || message.command == "907", "done only on the server's word");
            break;
        }
        if (progress == SaslLogin::Progress::Failed) {
            FUZZ_CHECK(!sasl.failure().empty(), "a failure says why");
            break;
        }
    }

    const std::size_t written = std::min<std::size_t>(read.size(), 20);
    for (std::size_t i = 0; i < written; ++i)
        connection.writeMessage(read[i]);
    const std::string wire = drain(fds[1]);
    std::size_t lines = 0;
    for (std::string_view rest = wire; !rest.empty(); ++lines) {
        const std::size_t end = rest.find("\r\n");
        FUZZ_CHECK(end != std::string_view::npos, "every written line ends in CR LF");
        FUZZ_CHECK(end + 2 <= 512, "a written line is at most 512 bytes");
        FUZZ_CHECK(!holdsAny(rest.substr(0, end), "\r\n"), "no CR or LF inside a written line");
        rest.remove_prefix(end + 2);
    }
    FUZZ_CHECK(lines == written, "one line on the wire per line written");
    close(fds[1]);
    return 0;
}
