// A byte queue that is consumed from the front by a read position and
// compacted only now and then, so that taking N messages out of one burst
// costs time linear in its bytes rather than moving the rest N times. It also
// remembers how far a terminator has been searched for, so that a long message
// arriving in many reads is not rescanned from its start after each one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class ByteBuffer {
public:
    void append(const char* bytes, std::size_t count);
    void append(std::string_view bytes);

    // Removes the first count bytes.
    void consume(std::size_t count);
    void clear();

    std::size_t size() const { return data.size() - start; }
    bool empty() const { return size() == 0; }
    // The pending bytes; valid until the next change.
    std::string_view view() const { return std::string_view(data).substr(start); }

    // Offset of the first occurrence of terminator in the pending bytes, or
    // npos. Bytes already searched by an earlier call are not searched again.
    std::size_t findTerminator(std::string_view terminator);

    static constexpr std::size_t npos = std::string::npos;

private:
    void compactIfWorthIt();

    std::string data;           // consumed prefix followed by the pending bytes
    std::size_t start = 0;      // offset of the first pending byte
    std::size_t searched = 0;   // offset below which no terminator starts
};
