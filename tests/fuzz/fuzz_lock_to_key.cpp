// The key that answers a hub's lock. Properties: a lock of n >= 2 bytes gives
// n key bytes once the "/%DCNnnn%/" escapes are undone, each the published
// transformation's byte; the six escaped values never stand raw; a shorter
// lock gives no key.
#include <string>

#include "FuzzCheck.h"
#include "dc/lockToKey.h"

namespace {

bool mustBeEscaped(unsigned char byte) {
    return byte == 0 || byte == 5 || byte == 36 || byte == 96 || byte == 124 || byte == 126;
}

std::string expectedBytes(const std::string& lock) {
    const std::size_t n = lock.size();
    std::string key(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char a = static_cast<unsigned char>(i == 0 ? lock[n - 1] ^ lock[n - 2] ^ 5 : lock[i - 1]);
        const unsigned char b = static_cast<unsigned char>(lock[i]);
        const unsigned char mixed = static_cast<unsigned char>(a ^ b);
        key[i] = static_cast<char>(((mixed << 4) | (mixed >> 4)) & 0xFF);
    }
    return key;
}

// The expected key written out: each byte raw, or as its ten-byte escape.
std::string escaped(const std::string& bytes) {
    std::string written;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (mustBeEscaped(byte))
            written += "/%DCN" + std::string(byte < 100 ? "0" : "") + std::string(byte < 10 ? "0" : "") +
                       std::to_string(byte) + "%/";
        else
            written += c;
    }
    return written;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string lock(reinterpret_cast<const char*>(data), size);
    const std::string key = lockToKey(lock);
    if (lock.size() < 2) {
        FUZZ_CHECK(key.empty(), "a lock under two bytes has no key");
        return 0;
    }
    // n bytes of the published transformation, the six values escaped and
    // never raw.
    FUZZ_CHECK(key == escaped(expectedBytes(lock)), "the key is the lock's n bytes, escaped");
    return 0;
}
