#include "irc/relayedNick.h"

#include "translator/utf8.h"

namespace {

// What a nick may not begin with: a channel's prefix, a member's mode prefix.
constexpr std::string_view kNickBadFirst{"#&~@%+-:$", 9};

}  // namespace

bool fitsInNick(char byte) {
    constexpr std::string_view kNickBreakers{" ,*?.!@:", 8};
    const unsigned char c = static_cast<unsigned char>(byte);
    return c >= 0x20 && c != 0x7F && kNickBreakers.find(byte) == std::string_view::npos;
}

std::string relayedNick(std::string_view nick, std::string_view separator, std::string_view suffix,
                        std::size_t maxBytes) {
    const std::size_t tail = separator.size() + suffix.size();
    std::string_view own = utf8Prefix(nick, maxBytes > tail ? maxBytes - tail : 0);
    if (own.empty())
        own = nick.substr(0, utf8CharacterLength(nick));
    std::string relayed(own);
    for (char& c : relayed)
        if (!fitsInNick(c))
            c = '_';
    if (relayed.empty())
        relayed = "_";
    else if (kNickBadFirst.find(relayed[0]) != std::string::npos)
        relayed[0] = '_';
    relayed.append(separator);
    relayed.append(suffix);
    return relayed;
}
