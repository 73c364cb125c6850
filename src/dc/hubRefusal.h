// What a hub's words tell about a log-in it refused: whether the refusal
// passes by itself (the bot came back too soon, a temporary ban, a full
// hub), and the wait they name. Hubs say it in their main chat in plain
// words, each in its own: "Please wait 4 seconds before reconnect.",
// "You're still temporarily prohibited from entering the hub for 55 secs
// because: Reconnecting too fast", "Sorry you have temp ban with remaining
// time: 19 minutes 58 seconds.", "This hub is full".
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

struct HubRefusal {
    bool passes = false;                           // trying again later may succeed
    std::optional<std::chrono::seconds> wait;      // the time the hub named, if any
};

// Reads a hub's words: a refusal that names a time, or a full hub, passes.
// One that names the password never does: it is for the operator to mend,
// whatever time it names.
HubRefusal readHubRefusal(std::string_view words);

// The first duration written in text as numbers and units ("1 min 5 secs",
// "19 minutes 58 seconds", "3 hours"), summed; nothing when there is none.
std::optional<std::chrono::seconds> durationIn(std::string_view text);
