#include "frame/BotAnswers.h"

#include <algorithm>

#include "frame/Log.h"

#include "platform.h"

namespace {

constexpr std::string_view kVersionRequest = "\x01VERSION\x01";
// Remembered askers beyond this are forgotten once their time is over.
constexpr std::size_t kMaxRememberedAskers = 1000;

}  // namespace

void BotAnswers::setPlaces(const std::string& ircChannel, const std::string& ircServer, const std::string& hubName) {
    channel = ircChannel;
    server = ircServer;
    hub = hubName;
}

std::optional<std::vector<std::string>> BotAnswers::answer(const ChatMessage& asked, bool ircAsked,
                                                           const ChatClient& hubSide, const ChatClient& other,
                                                           Clock::time_point now) {
    const bool versionRequest = ircAsked && asked.text == kVersionRequest;
    // Other CTCP requests are for clients, and a bot that answers what a
    // bot says may start a loop with it.
    if (!versionRequest && !asked.text.empty() && asked.text[0] == '\x01')
        return std::nullopt;
    if (!admits(ircAsked, asked.speaker, now))
        return std::nullopt;
    if (versionRequest)
        return std::vector<std::string>{"\x01VERSION brivox " BRIVOX_VERSION "\x01"};
    return std::vector<std::string>{
        "I am brivox " BRIVOX_VERSION ", a bot that relays public chat between " + channel + " on " + server +
            " and the hub " + (hubSide.peerName().empty() ? hub : hubSide.peerName()) + ".",
        othersLine(ircAsked, other),
        ircAsked ? "Say something in " + channel + " and I say it on the hub."
                 : "Say something in the main chat and I say it in " + channel + ".",
    };
}

bool BotAnswers::admits(bool ircAsked, std::string_view asker, Clock::time_point now) {
    if (lastAnswer)
        answersLeft = std::min<double>(kAnswersAtOnce, answersLeft + std::chrono::duration<double>(now - *lastAnswer) /
                                                                         std::chrono::duration<double>(kInAll));
    lastAnswer = now;
    if (answersLeft < 1) {
        // Told at most a few times a minute, with how many.
        ++unanswered;
        if (unansweredLines.admits(Notice)) {
            logMessage(Notice, "BotAnswers: " + std::to_string(unanswered) +
                                   " private messages not answered: one answer in " +
                                   std::to_string(kInAll.count()) + " s in all");
            unanswered = 0;
        }
        return false;
    }
    // Both sides' nicks compare at least without ASCII letter case.
    const std::string key = (ircAsked ? "irc " : "hub ") + asciiFold(asker);
    const auto found = lastAnswered.find(key);
    if (found != lastAnswered.end() && now - found->second < kPerAsker)
        return false;
    if (lastAnswered.size() >= kMaxRememberedAskers)
        for (auto it = lastAnswered.begin(); it != lastAnswered.end();)
            it = now - it->second >= kPerAsker ? lastAnswered.erase(it) : std::next(it);
    if (lastAnswered.size() >= kMaxRememberedAskers)
        return false;
    lastAnswered[key] = now;
    answersLeft -= 1;
    return true;
}

std::string BotAnswers::othersLine(bool ircAsked, const ChatClient& other) const {
    const std::string place = ircAsked ? "on the hub" : "in " + channel;
    if (!other.isConnected())
        return std::string("I am not ") + (ircAsked ? "on the hub" : "in " + channel) + " now; I will be back.";
    const MemberList& members = other.members();
    if (members.size() == 0)
        return "Nobody else is " + place + " now.";
    return (ircAsked ? "On the hub" : "In " + channel) + " now (" + std::to_string(members.size()) +
           "): " + members.describe(kMembersLineBytes);
}
