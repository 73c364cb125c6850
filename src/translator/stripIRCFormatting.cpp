#include "translator/stripIRCFormatting.h"

#include <algorithm>

namespace {

constexpr char kBold = '\x02';
constexpr char kColour = '\x03';
constexpr char kHexColour = '\x04';
constexpr char kReset = '\x0F';
constexpr char kMonospace = '\x11';
constexpr char kReverse = '\x16';
constexpr char kItalics = '\x1D';
constexpr char kStrikethrough = '\x1E';
constexpr char kUnderline = '\x1F';

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Skips up to maxCount characters of a kind from at.
template <typename Kind>
std::size_t skipUpTo(std::string_view text, std::size_t at, std::size_t maxCount, Kind kind) {
    std::size_t count = 0;
    while (at < text.size() && count < maxCount && kind(text[at])) {
        ++at;
        ++count;
    }
    return at;
}

// The end of a colour code's value starting at at: a foreground, and a
// background after a comma only when the comma is followed by one.
template <typename Kind>
std::size_t skipColourValue(std::string_view text, std::size_t at, std::size_t digits, Kind kind) {
    const std::size_t foreground = skipUpTo(text, at, digits, kind);
    if (foreground == at || foreground + 1 >= text.size() || text[foreground] != ',' || !kind(text[foreground + 1]))
        return foreground;
    return skipUpTo(text, foreground + 1, digits, kind);
}

bool isFormattingCode(char c) {
    switch (c) {
    case kBold: case kColour: case kHexColour: case kReset: case kMonospace:
    case kReverse: case kItalics: case kStrikethrough: case kUnderline: return true;
    default: return false;
    }
}

// The next formatting code from from on (text.size() when none).
std::size_t nextCode(std::string_view text, std::size_t from) {
    return static_cast<std::size_t>(std::find_if(text.begin() + from, text.end(), isFormattingCode) - text.begin());
}

}  // namespace

std::string stripIRCFormatting(std::string_view text) {
    std::string plain;
    appendWithoutFormatting(plain, text);
    return plain;
}

void appendWithoutFormatting(std::string& out, std::string_view text) {
    std::size_t from = 0;
    for (std::size_t at = nextCode(text, 0); at < text.size(); at = nextCode(text, from)) {
        out.append(text.substr(from, at - from));
        from = at + 1;
        if (text[at] == kColour)
            from = skipColourValue(text, from, 2, isDigit);
        else if (text[at] == kHexColour)
            from = skipColourValue(text, from, 6, isHexDigit);
    }
    out.append(text.substr(from));
}
