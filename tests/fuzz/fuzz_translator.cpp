// Both Translator directions on chat a side could hand over. The first bytes
// choose the room of an IRC line, whether it is an action and where the
// speaker ends; the rest is speaker and text. Properties: text for the hub
// holds no NUL, starts with the speaker's tag and, escaped for the wire,
// holds no raw '|'; a hub message gives one to ten IRC texts, each within
// the room, without CR, LF or NUL, and valid UTF-8 when the chat was.
#include <vector>

#include "FuzzCheck.h"
#include "dc/DCClient.h"
#include "dc/nmdcEscapes.h"
#include "irc/IRCClient.h"
#include "translator/Translator.h"
#include "translator/utf8.h"

namespace {

struct Sides {
    Translator translator;
    IRCClient irc;
    DCClient hub;
    Sides() {
        Config config;
        config.ignore_nicks = "Hub-Security";
        translator.setConfig(config);
    }
};

void checkToHub(Sides& sides, const ChatMessage& chat) {
    std::vector<std::string> texts{"untouched"};
    const std::size_t room = 256;
    if (!sides.translator.IRCtoDC(chat, sides.irc, room, texts)) {
        FUZZ_CHECK(texts == std::vector<std::string>{"untouched"}, "refused chat leaves the output alone");
        return;
    }
    const std::string tag = chat.action ? "* " : "<";
    for (const std::string& out : texts) {
        FUZZ_CHECK(out.compare(0, tag.size(), tag) == 0, "every piece carries the speaker");
        FUZZ_CHECK(out.size() <= room, "every piece fits the hub's bound");
        FUZZ_CHECK(out.find_first_of(std::string_view("\0\r\n", 3)) == std::string::npos,
                   "no NUL or line break reaches the hub inside a piece");
        FUZZ_CHECK(escapeNmdc("<bot> " + out, NmdcText::Chat).find('|') == std::string::npos,
                   "no raw '|' inside a chat line on the wire");
    }
}

void checkToIrc(Sides& sides, const ChatMessage& chat, std::size_t room) {
    std::vector<std::string> out{"untouched"};
    if (!sides.translator.DCtoIRC(chat, sides.hub, room, out)) {
        FUZZ_CHECK(out == std::vector<std::string>{"untouched"}, "refused chat leaves the output alone");
        return;
    }
    FUZZ_CHECK(!out.empty() && out.size() <= Translator::kMaxLinesPerHubMessage, "one to ten IRC texts");
    const bool utf8 = isValidUtf8(chat.speaker) && isValidUtf8(chat.text);
    for (const std::string& text : out) {
        FUZZ_CHECK(text.size() <= std::max<std::size_t>(room, 128), "a text fits the room");
        FUZZ_CHECK(!holdsAny(text, std::string_view("\r\n\0", 3)), "no CR, LF or NUL in an IRC text");
        FUZZ_CHECK(!utf8 || isValidUtf8(text), "valid UTF-8 stays valid");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Sides sides;
    FuzzInput input(data, size);
    const std::size_t room = 20 + input.pick(500);
    const bool action = input.pick(2) == 1;
    const std::size_t speakerBytes = input.pick(40);
    const std::string_view rest = input.rest();
    const ChatMessage chat{rest.substr(0, speakerBytes), rest.substr(std::min(speakerBytes, rest.size())), action};
    checkToHub(sides, chat);
    checkToIrc(sides, chat, room);
    return 0;
}
