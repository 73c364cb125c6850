// Searching a line for any of a few bytes. std::string_view::find_first_of
// looks each byte of the text up in the set with a call of its own, which
// shows on every relayed line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// A set of bytes, looked up in one step.
class ByteSet {
public:
    constexpr explicit ByteSet(std::string_view bytes) {
        for (const char byte : bytes)
            bits[static_cast<unsigned char>(byte) / 64] |= std::uint64_t{1} << (static_cast<unsigned char>(byte) % 64);
    }
    constexpr bool holds(char byte) const {
        return (bits[static_cast<unsigned char>(byte) / 64] >> (static_cast<unsigned char>(byte) % 64)) & 1;
    }

private:
    std::uint64_t bits[4] = {0, 0, 0, 0};
};

// The first position at or after from where text holds a byte of set, or
// std::string_view::npos.
inline std::size_t findAny(std::string_view text, const ByteSet& set, std::size_t from = 0) {
    for (std::size_t at = from; at < text.size(); ++at)
        if (set.holds(text[at]))
            return at;
    return std::string_view::npos;
}
