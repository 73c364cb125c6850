// What an ADC hub sends, through the real ADCConnection on one end of a
// socketpair, then the ADC parsing and escapes, and the text the bot writes
// to a hub. Properties: the messages read are the input's non-empty
// newline-ended lines; a parameter that unescapes escapes back to itself;
// text made safe for a hub is valid UTF-8 without the control bytes hubs
// refuse (and without 4-byte characters when asked), and does not begin
// with a lone '!' or '+'; an address that parses has a host and a key print
// of 32 bytes or none.
#include <unistd.h>
#include <vector>

#include "FuzzCheck.h"
#include "FuzzSocketPair.h"
#include "adc/ADCConnection.h"
#include "adc/ADCMessage.h"
#include "adc/adcEscapes.h"
#include "adc/hubChatText.h"
#include "net/HubAddress.h"
#include "translator/utf8.h"

namespace {

std::vector<std::string> linesOf(std::string_view bytes) {
    std::vector<std::string> lines;
    for (std::size_t end; (end = bytes.find('\n')) != std::string_view::npos; bytes.remove_prefix(end + 1))
        if (end > 0)
            lines.emplace_back(bytes.substr(0, end));
    return lines;
}

void checkSafeText(std::string_view text, bool fourByteCharacters) {
    const std::string safe = hubChatText(text, fourByteCharacters);
    FUZZ_CHECK(isValidUtf8(safe), "safe text is UTF-8");
    for (std::size_t at = 0; at < safe.size(); at += utf8CharacterLength(std::string_view(safe).substr(at))) {
        const auto byte = static_cast<unsigned char>(safe[at]);
        FUZZ_CHECK(byte >= 0x20 || byte == '\t' || byte == '\r' || byte == '\n', "no control byte a hub refuses");
        FUZZ_CHECK(fourByteCharacters || byte < 0xF0, "no 4-byte character when the hub takes none");
    }
    if (!safe.empty() && (safe[0] == '!' || safe[0] == '+'))
        FUZZ_CHECK(safe.size() > 1 && safe[1] == safe[0], "a leading '!' or '+' is doubled");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 60000)
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    int fds[2];
    if (!openPeerPair(fds, input))
        return 0;

    AdoptingConnection<ADCConnection> connection;
    connection.adopt(fds[0]);
    std::vector<std::string> read;
    std::string line;
    while (connection.readMessage(line))
        read.push_back(line);
    FUZZ_CHECK(read == linesOf(input), "the messages read are the input's lines");
    close(fds[1]);

    ADCMessage message;
    std::string text;
    for (const std::string& received : read) {
        if (!parseADCMessage(received, message))
            continue;
        for (const std::string_view parameter : message.parameters)
            if (adcUnescape(parameter, text))
                FUZZ_CHECK(adcEscape(text) == parameter, "an unescaped parameter escapes back to itself");
    }
    checkSafeText(input, true);
    checkSafeText(input, false);

    std::string why;
    if (const std::optional<HubAddress> address = parseHubAddress(input.substr(0, 300), why)) {
        FUZZ_CHECK(!address->host.empty(), "a parsed address has a host");
        FUZZ_CHECK(address->keyPrint.empty() || address->keyPrint.size() == 32, "a key print is a SHA-256");
    } else {
        FUZZ_CHECK(!why.empty(), "a refused address says why");
    }
    return 0;
}
