#include "dc/hubRefusal.h"

#include <array>
#include <cctype>
#include <string>

#include "net/MemberList.h"

namespace {

struct Unit {
    std::string_view word;  // as hubs write it, in lower case
    long long seconds;
};

constexpr std::array<Unit, 20> kUnits{{{"s", 1},        {"sec", 1},       {"secs", 1},     {"second", 1},
                                       {"seconds", 1},  {"min", 60},      {"mins", 60},    {"minute", 60},
                                       {"minutes", 60}, {"h", 3600},      {"hour", 3600},  {"hours", 3600},
                                       {"day", 86400},  {"days", 86400},  {"week", 604800}, {"weeks", 604800},
                                       {"month", 2592000}, {"months", 2592000}, {"year", 31536000},
                                       {"years", 31536000}}};

// Far beyond any ban a hub gives for a passing reason.
constexpr long long kMaxSeconds = 366LL * 86400;

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

std::optional<long long> unitSeconds(std::string_view word) {
    for (const Unit& unit : kUnits)
        if (word == unit.word)
            return unit.seconds;
    return std::nullopt;
}

bool mentions(const std::string& folded, std::string_view words) { return folded.find(words) != std::string::npos; }

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
    // Whatever the hub calls it (a wait, a temporary ban, a prohibition
    // with the time left), a refusal that names a time ends by itself.
    refusal.wait = durationIn(words);
    refusal.passes = refusal.wait.has_value() || mentions(folded, "hub is full") || mentions(folded, "$hubisfull") ||
                     mentions(folded, "maximum connections");
    return refusal;
}
