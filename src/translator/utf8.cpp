#include "translator/utf8.h"

#include <cstdint>
#include <cstring>

namespace {

bool isContinuationByte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length a lead byte announces, 0 for a byte that cannot lead.
std::size_t announcedLength(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// The second byte's range excludes overlong forms, surrogates and values
// above U+10FFFF (RFC 3629, section 4).
bool secondByteFits(unsigned char lead, unsigned char second) {
    switch (lead) {
    case 0xE0: return second >= 0xA0 && second <= 0xBF;
    case 0xED: return second >= 0x80 && second <= 0x9F;
    case 0xF0: return second >= 0x90 && second <= 0xBF;
    case 0xF4: return second >= 0x80 && second <= 0x8F;
    default: return isContinuationByte(second);
    }
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        // Most chat is ASCII: eight bytes at a time while no byte has its
        // high bit set.
        std::uint64_t eight;
        if (at + sizeof eight <= text.size()) {
            std::memcpy(&eight, text.data() + at, sizeof eight);
            if ((eight & 0x8080808080808080u) == 0) {
                at += sizeof eight;
                continue;
            }
        }
        const auto lead = static_cast<unsigned char>(text[at]);
        if (lead < 0x80) {  // most chat is ASCII
            ++at;
            continue;
        }
        const std::size_t length = announcedLength(lead);
        if (length == 0 || at + length > text.size())
            return false;
        if (length > 1 && !secondByteFits(lead, static_cast<unsigned char>(text[at + 1])))
            return false;
        for (std::size_t i = 2; i < length; ++i)
            if (!isContinuationByte(static_cast<unsigned char>(text[at + i])))
                return false;
        at += length;
    }
    return true;
}

std::string_view utf8Prefix(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    std::size_t end = maxBytes;
    while (end > 0 && isContinuationByte(static_cast<unsigned char>(text[end])))
        --end;
    return text.substr(0, end);
}

std::size_t utf8CharacterLength(std::string_view text) {
    std::size_t length = 1;
    while (length < text.size() && length < 4 && isContinuationByte(static_cast<unsigned char>(text[length])))
        ++length;
    return length;
}

namespace {

// CP1252's 0x80..0x9F, where it differs from Latin-1; 0 where unassigned.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

std::string_view readAsUtf8(std::string_view text, std::string& storage) {
    if (isValidUtf8(text))
        return text;
    storage.clear();
    storage.reserve(text.size() * 2);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        char32_t code = byte;
        if (byte >= 0x80 && byte < 0xA0)
            code = kCp1252High[byte - 0x80] != 0 ? kCp1252High[byte - 0x80] : 0xFFFD;
        appendUtf8(storage, code);
    }
    return storage;
}
