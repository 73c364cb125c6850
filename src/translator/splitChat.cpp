#include "translator/splitChat.h"

#include <algorithm>

#include "translator/utf8.h"

namespace {

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

// The next line of text from at on, without its end; at moves past the end
// (CR LF counts as one).
std::string_view nextLine(std::string_view text, std::size_t& at) {
    const std::size_t start = at;
    std::size_t end = start;
    while (end < text.size() && !isLineEnd(text[end]))
        ++end;
    at = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    return text.substr(start, end - start);
}

// How much of line goes into one piece of at most room bytes: up to its
// last space that fits when that keeps most of the room (a short word
// before a long run would otherwise spend a line of its own), else as many
// whole characters as fit, and at least one character, so that every piece
// makes progress.
std::size_t pieceLength(std::string_view line, std::size_t room) {
    if (line.size() <= room)
        return line.size();
    const std::size_t space = line.rfind(' ', room);
    if (space != std::string_view::npos && space > room / 2)
        return space;
    const std::size_t whole = utf8Prefix(line, room).size();
    return whole > 0 ? whole : utf8CharacterLength(line);
}

// The bytes of text's lines from at on, line ends not counted.
std::size_t bytesLeft(std::string_view text, std::size_t at) {
    return static_cast<std::size_t>(
        std::count_if(text.begin() + std::min(at, text.size()), text.end(), [](char c) { return !isLineEnd(c); }));
}

}  // namespace

std::string moreMarker(std::size_t bytes) { return " ... [" + std::to_string(bytes) + " more bytes]"; }

void splitChat(std::string_view text, std::size_t tagBytes, std::size_t maxBytes, std::size_t maxPieces,
               ChatPieces& out) {
    out.pieces.clear();
    out.cutBytes = 0;
    const std::size_t room = maxBytes > tagBytes ? maxBytes - tagBytes : 1;
    std::size_t at = 0;
    while (at <= text.size() && maxPieces > 0) {
        std::string_view line = nextLine(text, at);
        while (!line.empty()) {
            std::size_t length = pieceLength(line, room);
            // The last piece allowed, with more to come: it makes room for
            // the marker that says how much was left out.
            if (out.pieces.size() + 1 == maxPieces) {
                const std::size_t laterLines = bytesLeft(text, at);
                if (length < line.size() || laterLines > 0) {
                    const std::size_t marker = moreMarker(line.size() + laterLines).size();
                    length = pieceLength(line, room > marker ? room - marker : 1);
                    out.cutBytes = line.size() - length + laterLines;
                    out.pieces.push_back(line.substr(0, length));
                    return;
                }
            }
            out.pieces.push_back(line.substr(0, length));
            // The space the cut was made at goes with neither piece.
            line.remove_prefix(length < line.size() && line[length] == ' ' ? length + 1 : length);
        }
    }
}
