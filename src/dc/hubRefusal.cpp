#include "dc/hubRefusal.h"

#include <array>
#include <cctype>
#include <string>

#include "net/MemberList.h"

namespace {

struct Unit {
    std::string_view prefix;  // how the unit's word begins
    long long seconds;
};

// Longest prefixes first: "mo(nth)" before "m(in)", "mi" for minutes.
constexpr std::array<Unit, 7> kUnits{{{"year", 31536000},
                                      {"month", 2592000},
                                      {"week", 604800},
                                      {"day", 86400},
                                      {"h", 3600},
                                      {"mi", 60},
                                      {"s", 1}}};

// Far beyond any ban a hub gives for a passing reason.
constexpr long long kMaxSeconds = 366LL * 86400;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

std::optional<long long> unitSeconds(std::string_view word) {
    for (const Unit& unit : kUnits)
        if (word.compare(0, unit.prefix.size(), unit.prefix) == 0)
            return unit.seconds;
    return std::nullopt;
}

bool mentions(const std::string& folded, std::string_view word) { return folded.find(word) != std::string::npos; }

}  // namespace

std::optional<std::chrono::seconds> durationIn(std::string_view text) {
    const std::string folded = asciiFold(text);
    long long total = 0;
    bool found = false;
    std::size_t at = 0;
    while (at < folded.size()) {
        // A number begins a word: not the "4" of "ipv4".
        if (!isDigit(folded[at]) || (at > 0 && isLetter(folded[at - 1]))) {
            ++at;
            continue;
        }
        long long number = 0;
        while (at < folded.size() && isDigit(folded[at]) && number < kMaxSeconds)
            number = number * 10 + (folded[at++] - '0');
        while (at < folded.size() && isDigit(folded[at]))
            ++at;
        std::size_t wordAt = at;
        while (wordAt < folded.size() && folded[wordAt] == ' ')
            ++wordAt;
        std::size_t wordEnd = wordAt;
        while (wordEnd < folded.size() && isLetter(folded[wordEnd]))
            ++wordEnd;
        const std::optional<long long> unit = unitSeconds(std::string_view(folded).substr(wordAt, wordEnd - wordAt));
        if (wordEnd == wordAt || !unit) {
            // A number that is no duration ends a duration already read.
            if (found)
                break;
            at = wordEnd;
            continue;
        }
        total = std::min(kMaxSeconds, total + number * *unit);
        found = true;
        at = wordEnd;
        // The parts of one duration follow each other: "1 min 5 secs".
        while (at < folded.size() && (folded[at] == ' ' || folded[at] == ','))
            ++at;
        if (at < folded.size() && !isDigit(folded[at]))
            break;
    }
    if (!found)
        return std::nullopt;
    return std::chrono::seconds(total);
}

HubRefusal readHubRefusal(std::string_view words) {
    const std::string folded = asciiFold(words);
    HubRefusal refusal;
    if (mentions(folded, "password"))
        return refusal;
    refusal.wait = durationIn(words);
    const bool saysFull = mentions(folded, "hub is full") || mentions(folded, "maximum connections");
    const bool saysTemporary = mentions(folded, "temp") || mentions(folded, "wait") || mentions(folded, "too fast") ||
                               mentions(folded, "reconnect");
    refusal.passes = saysFull || (saysTemporary && refusal.wait.has_value());
    if (!refusal.passes)
        refusal.wait.reset();
    return refusal;
}
