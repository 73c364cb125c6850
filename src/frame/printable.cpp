#include "frame/printable.h"

namespace {

bool isControl(unsigned char byte) { return (byte < 0x20 && byte != '\t') || byte == 0x7F; }

void appendEscaped(std::string& out, unsigned char byte) {
    if (byte == '\r') {
        out += "\\r";
    } else if (byte == '\n') {
        out += "\\n";
    } else {
        static const char digits[] = "0123456789ABCDEF";
        out += "\\x";
        out += digits[byte >> 4];
        out += digits[byte & 0x0F];
    }
}

}  // namespace

bool holdsControlBytes(std::string_view text) {
    for (const char c : text)
        if (isControl(static_cast<unsigned char>(c)))
            return true;
    return false;
}

std::string printable(std::string_view text, std::size_t limit) {
    const bool cut = text.size() > limit;
    const std::string_view shown = cut ? text.substr(0, limit) : text;
    std::string out;
    out.reserve(shown.size() + 3);
    for (const char c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (isControl(byte))
            appendEscaped(out, byte);
        else
            out += c;
    }
    if (cut)
        out += "...";
    return out;
}
