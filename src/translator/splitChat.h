// A hub message cut into texts for IRC, each small enough for one line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct ChatPieces {
    std::vector<std::string> pieces;  // each begins with the speaker tag
    std::size_t cutBytes = 0;         // text left out because there were too many pieces
};

// text, one piece per line (CR LF, LF or CR; empty lines skipped), each line
// cut so that speakerTag + piece is at most maxBytes: at the last space where
// there is one, and never inside a UTF-8 character. At most maxPieces
// pieces; when text is left over, the last piece ends in
// " ... [N more bytes]" and cutBytes is N.
ChatPieces splitChat(std::string_view text, std::string_view speakerTag, std::size_t maxBytes,
                     std::size_t maxPieces);
