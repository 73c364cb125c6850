#include "net/ByteBuffer.h"

#include <algorithm>

namespace {
// Below this many consumed bytes compaction is not worth a move.
constexpr std::size_t kCompactThreshold = 64 * 1024;
// A drained buffer that grew beyond this during a burst gives its memory
// back; below it, keeping the capacity saves reallocations.
constexpr std::size_t kKeptCapacity = 64 * 1024;
}  // namespace

void ByteBuffer::append(const char* bytes, std::size_t count) { data.append(bytes, count); }

void ByteBuffer::append(std::string_view bytes) { data.append(bytes.data(), bytes.size()); }

void ByteBuffer::consume(std::size_t count) {
    start += std::min(count, size());
    searched = std::max(searched, start);
    if (start == data.size()) {
        clear();
        return;
    }
    compactIfWorthIt();
}

void ByteBuffer::clear() {
    if (data.capacity() > kKeptCapacity)
        std::string().swap(data);
    else
        data.clear();
    start = 0;
    searched = 0;
}

// Moving the pending bytes to the front once the consumed part is larger
// than what is left keeps the total cost of moves linear in the bytes.
void ByteBuffer::compactIfWorthIt() {
    if (start < kCompactThreshold || start < data.size() - start)
        return;
    data.erase(0, start);
    searched -= start;
    start = 0;
}

std::size_t ByteBuffer::findTerminator(std::string_view terminator) {
    const std::size_t from = std::max(start, searched);
    const std::size_t found = data.find(terminator.data(), from, terminator.size());
    if (found == std::string::npos) {
        // A terminator may begin in the last bytes and end in the next read.
        const std::size_t keep = terminator.size() - 1;
        searched = std::max(from, data.size() > keep ? data.size() - keep : 0);
        return npos;
    }
    searched = found;
    return found - start;
}
