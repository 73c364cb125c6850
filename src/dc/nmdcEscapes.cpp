#include "dc/nmdcEscapes.h"

#include <algorithm>
#include <initializer_list>
#include <array>

namespace {

struct Escape {
    char plain;
    std::string_view written;
    bool writtenInCommands;  // commands escape it when sending
    bool readInCommands;     // commands turn it back when receiving
};

constexpr Escape kEscapes[] = {
    {'&', "&amp;", false, false},
    {'$', "&#36;", false, true},
    {'|', "&#124;", true, true},
};
const Escape& kAmpersand = kEscapes[0];

constexpr bool applies(const Escape& escape, NmdcText kind, bool writing) {
    return kind == NmdcText::Chat || (writing ? escape.writtenInCommands : escape.readInCommands);
}

// The escape written at text[at] that this kind of text reads back, if any.
const Escape* escapeAt(std::string_view text, std::size_t at, NmdcText kind) {
    for (const Escape& escape : kEscapes)
        if (applies(escape, kind, false) && text.compare(at, escape.written.size(), escape.written) == 0)
            return &escape;
    return nullptr;
}

const Escape* escapeFor(char c, NmdcText kind) {
    for (const Escape& escape : kEscapes)
        if (escape.plain == c && applies(escape, kind, true))
            return &escape;
    return nullptr;
}

// The bytes each kind of text escapes when written, from the table, as a
// lookup by byte: every line the bot writes is scanned with it.
constexpr std::array<bool, 256> writtenEscaped(NmdcText kind) {
    std::array<bool, 256> special{};
    for (const Escape& escape : kEscapes)
        if (applies(escape, kind, true))
            special[static_cast<unsigned char>(escape.plain)] = true;
    return special;
}
constexpr std::array<bool, 256> kChatSpecial = writtenEscaped(NmdcText::Chat);
constexpr std::array<bool, 256> kCommandSpecial = writtenEscaped(NmdcText::Command);

// The next byte from `from` on that escaping must look at (text.size() when none).
std::size_t nextSpecial(std::string_view text, std::size_t from, NmdcText kind) {
    const std::array<bool, 256>& special = kind == NmdcText::Chat ? kChatSpecial : kCommandSpecial;
    while (from < text.size() && !special[static_cast<unsigned char>(text[from])])
        ++from;
    return from;
}

// What is written for the special byte at text[at]: its escape, or the
// byte itself for an '&' that starts no escape (a lone '&' stays, as DC
// clients write it).
std::string_view writtenFor(std::string_view text, std::size_t at, NmdcText kind) {
    const Escape& escape = *escapeFor(text[at], kind);
    return &escape == &kAmpersand && !escapeAt(text, at, kind) ? text.substr(at, 1) : escape.written;
}

}  // namespace

// Runs between special bytes are copied whole.
std::string escapeNmdc(std::string_view text, NmdcText kind) {
    std::string escaped;
    escaped.reserve(text.size() + text.size() / 8);
    std::size_t from = 0;
    for (std::size_t at = nextSpecial(text, 0, kind); at < text.size(); at = nextSpecial(text, at + 1, kind)) {
        escaped.append(text.substr(from, at - from));
        escaped += writtenFor(text, at, kind);
        from = at + 1;
    }
    escaped.append(text.substr(from));
    return escaped;
}

std::size_t escapedNmdcSize(std::string_view text, NmdcText kind) {
    std::size_t size = text.size();
    for (std::size_t at = nextSpecial(text, 0, kind); at < text.size(); at = nextSpecial(text, at + 1, kind))
        size += writtenFor(text, at, kind).size() - 1;
    return size;
}

// No escape can overlap another or be produced by a replacement, so one
// left-to-right pass gives what replacing each in turn would give.
std::string unescapeNmdc(std::string_view text, NmdcText kind) {
    std::string plain;
    plain.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t at = text.find('&'); at != std::string_view::npos; at = text.find('&', from)) {
        plain.append(text.substr(from, at - from));
        const Escape* escape = escapeAt(text, at, kind);
        plain += escape ? escape->plain : '&';
        from = at + (escape ? escape->written.size() : 1);
    }
    plain.append(text.substr(from));
    return plain;
}

bool needsNmdcEscapes(std::string_view text, NmdcText kind) { return nextSpecial(text, 0, kind) < text.size(); }
