#include "translator/splitChat.h"

#include "translator/utf8.h"

namespace {

// The lines of text, without their line ends, empty ones left out.
std::vector<std::string_view> nonEmptyLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start)
            lines.push_back(text.substr(start, end - start));
        // CR LF is one line end.
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

// How much of line goes into one piece of at most room bytes: up to its
// last space that fits, else as many whole characters as fit, and at least
// one character, so that every piece makes progress.
std::size_t pieceLength(std::string_view line, std::size_t room) {
    if (line.size() <= room)
        return line.size();
    const std::size_t space = line.rfind(' ', room);
    if (space != std::string_view::npos && space > 0)
        return space;
    const std::size_t whole = utf8Prefix(line, room).size();
    return whole > 0 ? whole : utf8CharacterLength(line);
}

std::string moreMarker(std::size_t bytes) { return " ... [" + std::to_string(bytes) + " more bytes]"; }

}  // namespace

ChatPieces splitChat(std::string_view text, std::string_view speakerTag, std::size_t maxBytes,
                     std::size_t maxPieces) {
    ChatPieces result;
    if (maxPieces == 0)
        return result;
    const std::size_t room = maxBytes > speakerTag.size() ? maxBytes - speakerTag.size() : 1;
    const std::vector<std::string_view> lines = nonEmptyLines(text);
    std::size_t leftOver = 0;
    for (const std::string_view line : lines)
        leftOver += line.size();
    for (std::string_view line : lines) {
        while (!line.empty()) {
            if (result.pieces.size() + 1 == maxPieces) {
                // The last piece: what does not fit is counted, not sent.
                const bool fitsWhole = line.size() == leftOver && line.size() <= room;
                if (!fitsWhole) {
                    const std::size_t marker = moreMarker(leftOver).size();
                    const std::size_t length = pieceLength(line, room > marker ? room - marker : 1);
                    result.cutBytes = leftOver - length;
                    result.pieces.push_back(std::string(speakerTag) + std::string(line.substr(0, length)) +
                                            moreMarker(result.cutBytes));
                    return result;
                }
            }
            const std::size_t length = pieceLength(line, room);
            result.pieces.push_back(std::string(speakerTag) + std::string(line.substr(0, length)));
            // The space the cut was made at goes with neither piece.
            const std::size_t used = length < line.size() && line[length] == ' ' ? length + 1 : length;
            line.remove_prefix(used);
            leftOver -= used;
        }
    }
    return result;
}
