#include "dc/lockToKey.h"

namespace {

bool mustBeEscaped(unsigned char byte) {
    return byte == 0 || byte == 5 || byte == 36 || byte == 96 || byte == 124 || byte == 126;
}

unsigned char swapNibbles(unsigned char byte) {
    return static_cast<unsigned char>(((byte << 4) & 0xF0) | (byte >> 4));
}

}  // namespace

std::string lockToKey(const std::string& lock) {
    const std::size_t n = lock.size();
    if (n < 2)
        return std::string();
    auto at = [&lock](std::size_t i) { return static_cast<unsigned char>(lock[i]); };

    std::string key;
    key.reserve(n + 16);
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char mixed = i == 0 ? at(0) ^ at(n - 2) ^ at(n - 1) ^ 0x05 : at(i - 1) ^ at(i);
        const unsigned char byte = swapNibbles(mixed);
        // No escape text holds an escaped byte, so one pass escapes each once.
        if (mustBeEscaped(byte)) {
            key += "/%DCN";
            key += static_cast<char>('0' + byte / 100);
            key += static_cast<char>('0' + byte / 10 % 10);
            key += static_cast<char>('0' + byte % 10);
            key += "%/";
        } else {
            key += static_cast<char>(byte);
        }
    }
    return key;
}
