// Hub command framing through the real DCConnection, on one end of a
// socketpair. Properties: the commands read are the input's '|'-ended
// commands, unescaped by their kind (chat or command); a command written
// goes out as exactly one command, with no raw '|' inside; a chat line read
// back from the wire is the line that was written.
#include <unistd.h>
#include <vector>

#include "FuzzCheck.h"
#include "FuzzSocketPair.h"
#include "dc/DCConnection.h"
#include "dc/nmdcEscapes.h"

namespace {

bool isChat(std::string_view command) { return !command.empty() && command[0] == '<'; }

std::vector<std::string> commandsOf(std::string_view bytes) {
    std::vector<std::string> commands;
    for (std::size_t end; (end = bytes.find('|')) != std::string_view::npos; bytes.remove_prefix(end + 1)) {
        const std::string_view command = bytes.substr(0, end);
        commands.push_back(unescapeNmdc(command, isChat(command) ? NmdcText::Chat : NmdcText::Command));
    }
    return commands;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 60000)
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    int fds[2];
    if (!openPeerPair(fds, input))
        return 0;

    AdoptingConnection<DCConnection> connection;
    connection.adopt(fds[0]);
    std::vector<std::string> read;
    std::string command;
    while (connection.readMessage(command))
        read.push_back(command);
    FUZZ_CHECK(read == commandsOf(input), "the commands read are the input's commands");

    for (std::size_t i = 0; i < std::min<std::size_t>(read.size(), 20); ++i) {
        connection.writeMessage(read[i]);
        std::string wire = drain(fds[1]);
        FUZZ_CHECK(!wire.empty() && wire.back() == '|', "a written command ends in '|'");
        wire.pop_back();
        FUZZ_CHECK(wire.find('|') == std::string::npos, "no raw '|' inside a written command");
        if (isChat(read[i]))
            FUZZ_CHECK(unescapeNmdc(wire, NmdcText::Chat) == read[i], "a chat line comes back as it was written");
    }
    close(fds[1]);
    return 0;
}
