// What the fuzz targets share: a property check that stops the run with the
// input that broke it, and a reader that takes structured values from the
// fuzzer's bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// A broken property aborts, so that libFuzzer saves and prints the input.
#define FUZZ_CHECK(condition, what)                                                    \
    do {                                                                               \
        if (!(condition)) {                                                            \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", what, __FILE__, __LINE__); \
            std::abort();                                                              \
        }                                                                              \
    } while (0)

// The fuzzer's bytes taken from the front: small numbers first, the rest as
// text.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : bytes(reinterpret_cast<const char*>(data), size) {}

    // A number below limit (0 when the input is used up).
    unsigned pick(unsigned limit) {
        if (bytes.empty() || limit == 0)
            return 0;
        const unsigned value = static_cast<unsigned char>(bytes.front()) % limit;
        bytes.remove_prefix(1);
        return value;
    }
    // Up to the next NUL (or the end), the NUL taken too.
    std::string_view word() {
        const std::size_t end = std::min(bytes.find('\0'), bytes.size());
        const std::string_view taken = bytes.substr(0, end);
        bytes.remove_prefix(std::min(end + 1, bytes.size()));
        return taken;
    }
    std::string_view rest() const { return bytes; }
    bool empty() const { return bytes.empty(); }

private:
    std::string_view bytes;
};

inline bool holdsAny(std::string_view text, std::string_view bytes) {
    return text.find_first_of(bytes) != std::string_view::npos;
}
