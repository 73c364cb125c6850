#include "translator/nickMarks.h"

#include <cstdint>
#include <iterator>

#include "translator/utf8.h"

namespace {

constexpr std::string_view kZeroWidthSpace = "\xE2\x80\x8B";
constexpr char kColour = '\x03';
// Blue, green, red, brown, purple, orange, light green, cyan, light cyan,
// light blue, pink: not white, black, yellow or the greys, which vanish on
// one background or the other.
constexpr int kReadableColours[] = {2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13};

}  // namespace

// FNV-1a: the same bytes, the same colour, in every run and on every host.
int nickColour(std::string_view nick) {
    std::uint32_t hash = 2166136261u;
    for (const char c : nick) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return kReadableColours[hash % std::size(kReadableColours)];
}

void appendMarkedNick(std::string& out, std::string_view nick, NickMarks marks) {
    if (marks.colour) {
        const int colour = nickColour(nick);
        out += kColour;
        out += static_cast<char>('0' + colour / 10);
        out += static_cast<char>('0' + colour % 10);
    }
    const std::size_t first = marks.noHighlight ? utf8CharacterLength(nick) : nick.size();
    out.append(nick.substr(0, first));
    if (first < nick.size()) {
        out += kZeroWidthSpace;
        out.append(nick.substr(first));
    }
    if (marks.colour)
        out += kColour;
}
