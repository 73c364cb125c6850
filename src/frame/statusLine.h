// The daemon's status in one log line, as SIGUSR1 and a clean stop give it:
// how long it has run, each side's state and counts, what crossed and what
// was dropped.
#pragma once

#include <chrono>
#include <string>

#include "net/ChatClient.h"

// One side as the status line tells it.
struct SideReport {
    std::string name;                    // "IRC", "DC++"
    std::string state;                   // "in #chat", "down"
    std::chrono::steady_clock::duration inState{};
    unsigned long logIns = 0;
    unsigned long losses = 0;
    DropCounts dropped;                  // chat for this side that was not delivered
};

// "3s", "4m05s", "2h03m", "5d01h": short and exact enough for a log line.
std::string durationText(std::chrono::steady_clock::duration duration);

// "Status: up 2h03m; IRC in #chat for 2h03m, 1 log-in, 0 losses; ...".
std::string statusLine(std::chrono::steady_clock::duration uptime, const SideReport& irc, const SideReport& hub,
                       unsigned long toHub, unsigned long toIrc);
