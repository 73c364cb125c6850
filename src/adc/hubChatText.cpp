#include "adc/hubChatText.h"

#include "translator/utf8.h"

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool hubDropsByte(unsigned char byte) { return byte < 0x20 && byte != '\t' && byte != '\r' && byte != '\n'; }

}  // namespace

std::string hubChatText(std::string_view text, bool fourByteCharacters) {
    std::string safe;
    safe.reserve(text.size() + 1);
    for (std::size_t at = 0; at < text.size();) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x80) {
            if (!hubDropsByte(byte))
                safe += text[at];
            ++at;
            continue;
        }
        const std::string_view character = text.substr(at, utf8CharacterLength(text.substr(at)));
        if (!isValidUtf8(character) || (character.size() == 4 && !fourByteCharacters))
            safe += kReplacement;
        else
            safe += character;
        at += character.size();
    }
    // Decided on what is left: a removed control byte may have stood first.
    if (!safe.empty() && (safe[0] == '!' || safe[0] == '+'))
        safe.insert(safe.begin(), safe[0]);
    return safe;
}
