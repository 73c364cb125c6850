#include "net/base32.h"

#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";

int valueOf(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a';
    if (c >= '2' && c <= '7')
        return c - '2' + 26;
    return -1;
}

}  // namespace

std::string base32Encode(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() * 8 + 4) / 5);
    std::uint32_t bits = 0;
    int held = 0;
    for (const char byte : bytes) {
        bits = (bits << 8) | static_cast<unsigned char>(byte);
        held += 8;
        while (held >= 5) {
            held -= 5;
            text += kAlphabet[(bits >> held) & 31];
        }
    }
    if (held > 0)
        text += kAlphabet[(bits << (5 - held)) & 31];
    return text;
}

std::optional<std::string> base32Decode(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size() * 5 / 8);
    std::uint32_t bits = 0;
    int held = 0;
    for (const char c : text) {
        const int value = valueOf(c);
        if (value < 0)
            return std::nullopt;
        bits = (bits << 5) | static_cast<std::uint32_t>(value);
        held += 5;
        if (held >= 8) {
            held -= 8;
            bytes += static_cast<char>((bits >> held) & 0xFF);
        }
    }
    // What is left over is padding of the last character: zero bits.
    if ((bits & ((1u << held) - 1)) != 0)
        return std::nullopt;
    return bytes;
}
