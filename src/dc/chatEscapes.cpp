#include "dc/chatEscapes.h"

namespace {

struct Escape {
    char plain;
    std::string_view written;
};

constexpr Escape kAmpersand{'&', "&amp;"};
constexpr Escape kDollar{'$', "&#36;"};
constexpr Escape kPipe{'|', "&#124;"};

// The escape written at text[at], if one is.
const Escape* escapeAt(std::string_view text, std::size_t at) {
    for (const Escape* escape : {&kAmpersand, &kDollar, &kPipe})
        if (text.compare(at, escape->written.size(), escape->written) == 0)
            return escape;
    return nullptr;
}

}  // namespace

// An '&' is escaped only where it would otherwise be read as an escape; a
// lone '&' stays, as DC clients write it.
std::string escapeDCChat(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size() + text.size() / 8);
    for (std::size_t at = 0; at < text.size(); ++at) {
        switch (text[at]) {
        case '&': escaped += escapeAt(text, at) ? kAmpersand.written : "&"; break;
        case '$': escaped += kDollar.written; break;
        case '|': escaped += kPipe.written; break;
        default: escaped += text[at];
        }
    }
    return escaped;
}

std::string unescapeDCChat(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const Escape* escape = text[at] == '&' ? escapeAt(text, at) : nullptr;
        if (escape) {
            plain += escape->plain;
            at += escape->written.size();
        } else {
            plain += text[at++];
        }
    }
    return plain;
}
