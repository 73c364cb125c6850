#include "dc/chatEscapes.h"

#include <algorithm>

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

bool isSpecial(char c) { return c == '&' || c == '$' || c == '|'; }

// The next byte from from on that escaping must look at (text.size() when none).
std::size_t nextSpecial(std::string_view text, std::size_t from) {
    return static_cast<std::size_t>(std::find_if(text.begin() + from, text.end(), isSpecial) - text.begin());
}

}  // namespace

// An '&' is escaped only where it would otherwise be read as an escape; a
// lone '&' stays, as DC clients write it. Runs between special bytes are
// copied whole.
std::string escapeDCChat(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size() + text.size() / 8);
    std::size_t from = 0;
    for (std::size_t at = nextSpecial(text, 0); at < text.size(); at = nextSpecial(text, at + 1)) {
        escaped.append(text.substr(from, at - from));
        switch (text[at]) {
        case '&': escaped += escapeAt(text, at) ? kAmpersand.written : "&"; break;
        case '$': escaped += kDollar.written; break;
        default: escaped += kPipe.written;
        }
        from = at + 1;
    }
    escaped.append(text.substr(from));
    return escaped;
}

std::string unescapeDCChat(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    std::size_t from = 0;
    for (std::size_t at = text.find('&'); at != std::string_view::npos; at = text.find('&', from)) {
        plain.append(text.substr(from, at - from));
        const Escape* escape = escapeAt(text, at);
        plain += escape ? escape->plain : '&';
        from = at + (escape ? escape->written.size() : 1);
    }
    plain.append(text.substr(from));
    return plain;
}
