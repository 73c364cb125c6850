#include "translator/Translator.h"

#include <algorithm>

#include "frame/Log.h"
#include "frame/findAny.h"
#include "frame/printable.h"
#include "frame/yesNo.h"
#include "translator/stripIRCFormatting.h"
#include "translator/utf8.h"

namespace {

// However long the IRC side's prefix and channel, a piece keeps at least
// this room, and a speaker's tag at most as much again.
constexpr std::size_t kMinPieceBytes = 64;
// A NUL, CR or LF would cut or break every line a speaker's name tags.
constexpr ByteSet kNameBreakers{std::string_view("\0\r\n", 3)};

std::vector<std::string> splitNickList(const std::string& list) {
    std::vector<std::string> nicks;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string nick = trim(list.substr(start, comma - start), ' ');
        if (!nick.empty())
            nicks.push_back(nick);
        start = comma + 1;
    }
    return nicks;
}

}  // namespace

void Translator::setConfig(const Config& config) {
    ignoredNicks = splitNickList(config.ignore_nicks);
    hubNickMarks.noHighlight = parseYesNo(config.irc.irc_nick_nohighlight).value_or(false);
    hubNickMarks.colour = parseYesNo(config.irc.irc_nick_colors).value_or(false);
}

// Text is carried through C strings on some paths: a NUL would cut it. A
// speaker is a name: a line break in it would break every line it tags.
bool Translator::crosses(const ChatMessage& chat, const ChatClient& from) const {
    if (chat.speaker.empty() || findAny(chat.speaker, kNameBreakers) != std::string_view::npos ||
        chat.text.find('\0') != std::string_view::npos)
        return false;
    return std::none_of(ignoredNicks.begin(), ignoredNicks.end(),
                        [&](const std::string& ignored) { return from.sameNick(chat.speaker, ignored); });
}

bool Translator::IRCtoDC(const ChatMessage& chat, const ChatClient& irc, std::size_t room,
                         std::vector<std::string>& out) const {
    if (!crosses(chat, irc))
        return false;
    plainText.clear();
    appendWithoutFormatting(plainText, chat.text);
    return chat.action ? splitTagged("* ", chat.speaker, NickMarks(), " ", plainText, room, out)
                       : splitTagged("<", chat.speaker, NickMarks(), "> ", plainText, room, out);
}

bool Translator::DCtoIRC(const ChatMessage& chat, const ChatClient& hub, std::size_t room,
                         std::vector<std::string>& out) const {
    if (!crosses(chat, hub) || !splitTagged("<", chat.speaker, hubNickMarks, "> ", chat.text, room, out))
        return false;
    if (pieces.cutBytes > 0 && cutMessages.admits(Notice))
        logMessage(Notice, "Translator: " + std::to_string(pieces.cutBytes) + " bytes of a hub message from <" +
                               printable(chat.speaker) + "> did not fit in " +
                               std::to_string(kMaxLinesPerHubMessage) + " IRC lines and were cut");
    return true;
}

// text in pieces of at most room bytes, one or more a line, each after the
// speaker's tag; the last of a cut message says how much was left out. A
// nick too long to leave room for text (no server allows one, but a peer
// may send anything) is shortened in the tag, at a character boundary.
bool Translator::splitTagged(const char* open, std::string_view speaker, NickMarks marks, const char* close,
                             std::string_view text, std::size_t room, std::vector<std::string>& out) const {
    room = std::max(room, 2 * kMinPieceBytes);
    scratch.assign(open);
    appendMarkedNick(scratch, utf8Prefix(speaker, room - kMinPieceBytes - 3 - kMaxNickMarkBytes), marks);
    scratch += close;
    splitChat(text, scratch.size(), room, kMaxLinesPerHubMessage, pieces);
    if (pieces.pieces.empty())
        return false;
    // The strings of out are reused from the last message.
    out.resize(pieces.pieces.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i].assign(scratch);
        out[i].append(pieces.pieces[i]);
        if (i + 1 == out.size() && pieces.cutBytes > 0)
            out[i] += moreMarker(pieces.cutBytes);
    }
    return true;
}
