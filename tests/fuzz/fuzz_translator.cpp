// Both Translator directions, under the server views and hub sets a run can
// meet. The first bytes choose the case mapping, our prefix length and the
// hub's set; the rest is one received line. Properties: a refused line leaves
// the output untouched; a hub line for IRC starts "<bot> ", holds no NUL and,
// escaped for the wire, no raw '|'; each IRC line from a hub line is a
// PRIVMSG to our channel, fits 512 bytes as others receive it, holds no CR,
// LF or NUL and is valid UTF-8; converting in place gives the same result.
#include <vector>

#include "FuzzCheck.h"
#include "dc/chatEscapes.h"
#include "translator/Translator.h"
#include "translator/utf8.h"

namespace {

const char kChannel[] = "#Chat[1]";

Translator& translatorFor(unsigned charset) {
    static Translator utf8Hub;
    static Translator cp1251Hub;
    static bool configured = false;
    if (!configured) {
        Config config;
        config.irc.irc_channel = kChannel;
        config.dc.dc_nick = "bot";
        config.ignore_nicks = "Hub-Security";
        FUZZ_CHECK(utf8Hub.setConfig(config), "configure a UTF-8 hub");
        config.dc.dc_encoding = "CP1251";
        FUZZ_CHECK(cp1251Hub.setConfig(config), "configure a CP1251 hub");
        configured = true;
    }
    return charset == 0 ? utf8Hub : cp1251Hub;
}

void checkToHub(const Translator& translator, const std::string& line) {
    std::string out = "untouched";
    if (!translator.IRCtoDC(line, out)) {
        FUZZ_CHECK(out == "untouched", "a refused IRC line leaves the output alone");
        return;
    }
    FUZZ_CHECK(out.compare(0, 6, "<bot> ") == 0, "hub lines are spoken by the bot");
    FUZZ_CHECK(out.find('\0') == std::string::npos, "no NUL reaches the hub");
    FUZZ_CHECK(escapeDCChat(out).find('|') == std::string::npos, "no raw '|' inside a chat line on the wire");
    std::string inPlace = line;
    FUZZ_CHECK(translator.IRCtoDC(inPlace, inPlace) && inPlace == out, "in place gives the same line");
}

void checkToIrc(const Translator& translator, const std::string& line, std::size_t prefixBytes) {
    std::vector<std::string> out{"untouched"};
    if (!translator.DCtoIRC(line, out)) {
        FUZZ_CHECK(out == std::vector<std::string>{"untouched"}, "a refused hub line leaves the output alone");
        return;
    }
    FUZZ_CHECK(!out.empty() && out.size() <= Translator::kMaxLinesPerHubMessage, "one to ten IRC lines");
    const std::string head = std::string("PRIVMSG ") + kChannel + " :";
    for (const std::string& ircLine : out) {
        FUZZ_CHECK(ircLine.compare(0, head.size(), head) == 0, "a PRIVMSG to our channel");
        FUZZ_CHECK(prefixBytes + ircLine.size() + 2 <= 512, "fits 512 bytes as others receive it");
        FUZZ_CHECK(!holdsAny(ircLine, std::string_view("\r\n\0", 3)), "no CR, LF or NUL in an IRC line");
        FUZZ_CHECK(isValidUtf8(ircLine), "IRC gets valid UTF-8");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const CaseMapping mapping = static_cast<CaseMapping>(input.pick(3));
    const std::size_t prefixBytes = 20 + input.pick(250);
    Translator& translator = translatorFor(input.pick(2));
    translator.setServerView({prefixBytes, mapping});
    const std::string line(input.rest());
    checkToHub(translator, line);
    checkToIrc(translator, line, prefixBytes);
    return 0;
}
