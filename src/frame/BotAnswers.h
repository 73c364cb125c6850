// What the bot answers a user who speaks to it privately: what it is, who
// is on the other side now, and how to reach them; and its version to a
// CTCP VERSION. Answers are rate-limited, per asker and in all, so that
// nobody can make the bot flood a server or a hub.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "frame/LogLimiter.h"
#include "net/ChatClient.h"

class BotAnswers {
public:
    using Clock = std::chrono::steady_clock;
    // One answer per asker in this time. In all, both sides together, a
    // few answers at once and then one in kInAll: six answers of three lines
    // a minute, which the pacing carries after the chat; more are not
    // answered, and counted.
    static constexpr std::chrono::seconds kPerAsker{10};
    static constexpr std::chrono::seconds kInAll{10};
    static constexpr int kAnswersAtOnce = 3;
    // The nicks of the other side fill at most this much of a line.
    static constexpr std::size_t kMembersLineBytes = 300;

    // How the two places are named: "#chat on irc.example.org", "the hub
    // hub.example.org"; where people speak: "#chat", "the main chat".
    void setPlaces(const std::string& channel, const std::string& server, const std::string& hub);

    // The answer to what asker said to the bot on the IRC side (ircAsked)
    // or the hub side, or nothing: not to be answered, or too soon.
    std::optional<std::vector<std::string>> answer(const ChatMessage& asked, bool ircAsked, const ChatClient& hubSide,
                                                   const ChatClient& other, Clock::time_point now = Clock::now());

private:
    bool admits(bool ircAsked, std::string_view asker, Clock::time_point now);
    std::string othersLine(bool ircAsked, const ChatClient& other) const;

    std::string channel;
    std::string server;
    std::string hub;
    std::map<std::string, Clock::time_point> lastAnswered;  // per asker, prefixed by the side
    double answersLeft = kAnswersAtOnce;                     // what the bound in all allows now
    std::optional<Clock::time_point> lastAnswer;            // any asker
    unsigned long unanswered = 0;                           // asked beyond the bound in all, not yet logged
    LogLimiter unansweredLines{"BotAnswers: questions not answered"};
};
