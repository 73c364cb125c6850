#include <gtest/gtest.h>

#include "dc/hubRefusal.h"

using std::chrono::seconds;

// The words PtokaX and Verlihub close a refused log-in with, and some that
// look like them.
TEST(HubRefusal, AWaitOrAFullHubPassesAPasswordNever) {
    const struct {
        const char* words;
        bool passes;
        long wait;  // -1: none named
    } cases[] = {
        {"<PtokaX> Please wait 4 seconds before reconnect.", true, 4},
        {"<Verlihub> You're still temporarily prohibited from entering the hub for 55 secs because: Reconnecting "
         "too fast",
         true, 55},
        {"<Verlihub> You're still temporarily prohibited from entering the hub for 1 min 5 secs because: x", true, 65},
        {"<PtokaX> Sorry you have temp ban with remaining time: 19 minutes 58 seconds.", true, 19 * 60 + 58},
        {"<Verlihub> You are prohibited from entering this hub:\r\n [*] Nick: x\r\n [*] IP: 127.0.0.1\r\n [*] Time: 3 "
         "mins 7 secs left",
         true, 187},
        {"<PtokaX> This hub is full. 100 users online.", true, -1},
        {"$HubIsFull", true, -1},
        {"<Verlihub> You've been temporarily banned due to incorrect password.", false, -1},
        {"<Hub> Wrong password, wait 30 seconds", false, -1},
        {"<Hub-Security> Your IP is banned\r\nfor a week", false, -1},
        {"<Hub> Your client ipv4 address 10 is not allowed", false, -1},
        {"<Hub> You must open at least 5 slots", false, -1},
    };
    for (const auto& c : cases) {
        const HubRefusal refusal = readHubRefusal(c.words);
        EXPECT_EQ(refusal.passes, c.passes) << c.words;
        EXPECT_EQ(refusal.wait ? refusal.wait->count() : -1, c.wait) << c.words;
    }
    EXPECT_EQ(durationIn("3 hours and then 2 seconds"), seconds(3 * 3600));
    EXPECT_EQ(durationIn("99999999999999999999 years"), seconds(366LL * 86400));
}
