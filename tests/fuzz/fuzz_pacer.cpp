// The line pacer on a simulated clock, driven by a sequence of pushes, pops
// and time steps taken from the input. Properties: it never holds more than
// its bounds; lines come out in the order they went in; no line comes out
// older than its maximum age; when it says a line is ready, one comes out or
// an old one was just dropped.
#include <chrono>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "net/LinePacer.h"

using namespace std::chrono_literals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    LinePacer pacer;
    const std::chrono::seconds maxAge(30 * input.pick(3));
    pacer.setLimits(1 + static_cast<int>(input.pick(8)), std::chrono::milliseconds(250 * input.pick(5)), maxAge);
    auto now = LinePacer::Clock::time_point{} + 1h;
    long pushed = 0;
    long lastOut = -1;
    std::vector<LinePacer::Clock::time_point> pushedAt;
    std::string line;
    // Takes a ready line, if any, and checks it came in order and fresh.
    const auto popAndCheck = [&] {
        if (!pacer.popReady(now, line))
            return false;
        const long number = std::stol(line.substr(0, line.find(':')));
        FUZZ_CHECK(number > lastOut, "lines come out in order");
        FUZZ_CHECK(maxAge.count() == 0 || now - pushedAt[static_cast<std::size_t>(number)] <= maxAge,
                   "no line comes out older than its age");
        lastOut = number;
        return true;
    };
    while (!input.empty()) {
        switch (input.pick(4)) {
        case 0: {
            std::string text = std::to_string(pushed) + ":";
            text.resize(text.size() + input.pick(64) * input.pick(64), 'x');
            pacer.push(text, now);
            pushedAt.push_back(now);
            ++pushed;
            break;
        }
        case 1:
            now += std::chrono::milliseconds(100) * input.pick(256);
            break;
        case 2:
            popAndCheck();
            break;
        default: {
            const auto ready = pacer.nextReadyIn(now);
            if (ready && *ready == LinePacer::Clock::duration::zero())
                FUZZ_CHECK(popAndCheck() || pacer.takeExpired() > 0, "a ready line comes out");
        }
        }
        FUZZ_CHECK(pacer.queuedLines() <= LinePacer::kMaxQueuedLines, "the line bound holds");
        FUZZ_CHECK(pacer.queuedByteCount() <= LinePacer::kMaxQueuedBytes, "the byte bound holds");
    }
    return 0;
}
