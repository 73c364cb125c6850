// The text functions between the two sides. The first byte chooses the
// function, the next ones its parameters. Properties: a split message's
// pieces fit their line and stay valid UTF-8 when the text was; the chat
// escapes give the text back and leave no raw '$' or '|'; formatting removal
// leaves no code and is idempotent; text for IRC is always valid UTF-8, and
// UTF-8 validity agrees with iconv's decoder; log text holds no control byte.
#include <cerrno>
#include <iconv.h>
#include <string>

#include "FuzzCheck.h"
#include "dc/HubCharset.h"
#include "dc/nmdcEscapes.h"
#include "frame/printable.h"
#include "translator/splitChat.h"
#include "translator/stripIRCFormatting.h"
#include "translator/utf8.h"

namespace {

void checkSplit(FuzzInput& input) {
    const std::size_t tag = input.pick(21);
    const std::size_t maxBytes = 100 + input.pick(256) * 2;
    const std::size_t maxPieces = 1 + input.pick(12);
    const std::string_view text = input.rest();
    ChatPieces split;
    splitChat(text, tag, maxBytes, maxPieces, split);
    FUZZ_CHECK(split.pieces.size() <= maxPieces, "at most maxPieces pieces");
    for (std::size_t i = 0; i < split.pieces.size(); ++i) {
        const std::string_view piece = split.pieces[i];
        const bool last = i + 1 == split.pieces.size();
        const std::size_t marker = last && split.cutBytes > 0 ? moreMarker(split.cutBytes).size() : 0;
        FUZZ_CHECK(tag + piece.size() + marker <= maxBytes, "a piece fits its line");
        FUZZ_CHECK(!piece.empty() && !holdsAny(piece, "\r\n"), "a piece is part of one line");
        FUZZ_CHECK(!isValidUtf8(text) || isValidUtf8(piece), "no piece ends inside a character");
    }
    FUZZ_CHECK(split.cutBytes == 0 || split.pieces.size() == maxPieces, "text is cut only when pieces run out");
}

void checkEscapes(std::string_view text) {
    const std::string escaped = escapeNmdc(text, NmdcText::Chat);
    FUZZ_CHECK(!holdsAny(escaped, "$|"), "no raw '$' or '|' after escaping");
    FUZZ_CHECK(unescapeNmdc(escaped, NmdcText::Chat) == text, "escaping then unescaping gives the text back");
    const std::string command = escapeNmdc(text, NmdcText::Command);
    FUZZ_CHECK(!holdsAny(command, "|"), "no raw '|' in an escaped command");
    FUZZ_CHECK(unescapeNmdc(command, NmdcText::Command) == unescapeNmdc(text, NmdcText::Command),
               "a command reads back as its text would");
}

void checkFormatting(std::string_view text) {
    const std::string plain = stripIRCFormatting(text);
    FUZZ_CHECK(!holdsAny(plain, "\x02\x03\x04\x0F\x11\x16\x1D\x1E\x1F"), "no formatting code is left");
    FUZZ_CHECK(plain.size() <= text.size() && stripIRCFormatting(plain) == plain, "removal is idempotent");
}

// iconv's own UTF-8 decoder as the second opinion on validity.
bool iconvAccepts(std::string_view text) {
    static const iconv_t decoder = iconv_open("UTF-32LE", "UTF-8");
    iconv(decoder, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    std::string out(text.size() * 4 + 4, '\0');
    char* outp = out.data();
    std::size_t outLeft = out.size();
    return iconv(decoder, &in, &inLeft, &outp, &outLeft) != static_cast<std::size_t>(-1);
}

void checkCharsets(FuzzInput& input) {
    static const char* const kSets[] = {"UTF-8", "CP1251", "CP1252", "KOI8-R"};
    static HubCharset charsets[4];
    static bool opened = false;
    if (!opened) {
        for (int i = 0; i < 4; ++i)
            FUZZ_CHECK(charsets[i].setCharset(kSets[i]), "open a hub set");
        opened = true;
    }
    const HubCharset& charset = charsets[input.pick(4)];
    const std::string_view text = input.rest();
    FUZZ_CHECK(isValidUtf8(charset.toUtf8(text)), "text for IRC is valid UTF-8");
    FUZZ_CHECK(isValidUtf8(text) == iconvAccepts(text), "UTF-8 validity agrees with iconv");
    FUZZ_CHECK(!isValidUtf8(text) || charset.toUtf8(text) == text, "valid UTF-8 passes unchanged");
    std::string storage;
    const std::string_view utf8 = readAsUtf8(text, storage);
    FUZZ_CHECK(isValidUtf8(utf8), "text read as UTF-8 is valid UTF-8");
    FUZZ_CHECK(!isValidUtf8(text) || utf8 == text, "valid UTF-8 is read as it is");
    FUZZ_CHECK(!charsets[0].isUtf8() || charsets[0].toHub(utf8) == utf8, "a UTF-8 hub gets UTF-8 as is");
    charset.toHub(utf8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    switch (input.pick(5)) {
    case 0: checkSplit(input); break;
    case 1: checkEscapes(input.rest()); break;
    case 2: checkFormatting(input.rest()); break;
    case 3: checkCharsets(input); break;
    default: FUZZ_CHECK(!holdsControlBytes(printable(input.rest(), std::string::npos)), "log text holds no control byte");
    }
    return 0;
}
