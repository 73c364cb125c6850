// A hub message cut into texts for IRC, each small enough for one line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct ChatPieces {
    std::vector<std::string_view> pieces;  // parts of the text, without the speaker tag
    std::size_t cutBytes = 0;              // text left out because there were too many pieces
};

// text, one piece per line (CR LF, LF or CR; empty lines skipped), each line
// cut so that a speaker tag of tagBytes, the piece and, on the last piece of
// a cut message, moreMarker(cutBytes) take at most maxBytes: at the last
// space where there is one, and never inside a UTF-8 character. At most
// maxPieces pieces. The pieces point into text; out is reused.
void splitChat(std::string_view text, std::size_t tagBytes, std::size_t maxBytes, std::size_t maxPieces,
               ChatPieces& out);

// " ... [N more bytes]", which ends the last piece of a message that was cut.
std::string moreMarker(std::size_t bytes);
