// Who came and went on one side, told on the other as "* alice joined the
// hub". Comings and goings are gathered for a moment first: a burst (a hub
// restart, a net split) becomes one line per kind ("* 37 users left #chat")
// instead of a flood. Who comes and goes again within the gathering is not
// told at all, and gatherings are told at most every 20 seconds, so that a
// storm gives a few lines a minute.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "net/ChatClient.h"

class PresenceNotices {
public:
    using Clock = std::chrono::steady_clock;
    // How long comings and goings are gathered after the first.
    static constexpr std::chrono::seconds kGathering{2};
    // Up to this many are told one by one; more are counted.
    static constexpr std::size_t kSingleLines = 3;
    // The least time between two gatherings told.
    static constexpr std::chrono::seconds kBetweenTellings{20};

    // place: where they come and go, as the notices name it ("the hub",
    // "#chat"); network: what a quit leaves ("IRC").
    PresenceNotices(std::string place, std::string network);

    void note(ChatKind kind, std::string_view nick, Clock::time_point now = Clock::now());
    // Time until the gathered notices are due; nothing when none are.
    std::optional<Clock::duration> dueIn(Clock::time_point now) const;
    // The notices due at now, in the order they came; the gathering starts
    // over.
    std::vector<std::string> take(Clock::time_point now = Clock::now());

private:
    struct Noted {
        ChatKind kind;
        std::string nick;
    };
    std::string notice(ChatKind kind, const std::string& who, bool many) const;
    // A coming and a going of nick in this gathering cancel out; true when
    // kind did so.
    bool cancels(ChatKind kind, std::string_view nick);

    std::string place;
    std::string network;
    std::vector<Noted> first;       // the first few, told one by one in a small gathering
    std::size_t counts[6] = {};     // every one gathered, by kind
    std::size_t total = 0;
    std::optional<Clock::time_point> gatheringSince;
    std::optional<Clock::time_point> lastTold;
};
