#include <gtest/gtest.h>

#include "frame/PresenceNotices.h"
#include "frame/statusLine.h"
#include "irc/IRCMessage.h"
#include "net/MemberList.h"

using namespace std::chrono_literals;

// Under the side's case mapping, bounded, and told in one line.
TEST(MemberList, KeepsNicksUnderTheCaseMappingAndDescribesThemInOneLine) {
    MemberList members([](std::string_view nick) { return ircFold(nick, CaseMapping::Rfc1459); });
    for (const char* nick : {"carol", "Alice", "bob[1]", "ALICE", "", "eve\r\nQUIT", "nul\x01"})
        members.add(nick);
    EXPECT_EQ(members.size(), 3u);
    EXPECT_TRUE(members.contains("BOB{1}"));
    members.rename("bob{1}", "Bobby");
    EXPECT_FALSE(members.remove("bob[1]"));
    EXPECT_EQ(members.describe(100), "ALICE, Bobby, carol");
    EXPECT_EQ(members.describe(20), "ALICE and 2 more");
    EXPECT_EQ(members.describe(1), "ALICE and 2 more");
    EXPECT_TRUE(members.remove("alice"));
    members.clear();
    EXPECT_EQ(members.describe(100), "");
    // A nick no network allows is no one's; however many long nicks a peer
    // reports, what is kept stays within the bound on bytes.
    members.add(std::string(MemberList::kMaxNickBytes + 1, 'x'));
    EXPECT_EQ(members.size(), 0u);
    for (int i = 0; i < 100000; ++i)
        members.add(std::to_string(i) + std::string(MemberList::kMaxNickBytes - 8, 'n'));
    EXPECT_LT(members.size(), 100000u);
    EXPECT_LE(members.size() * (MemberList::kMaxNickBytes - 8), MemberList::kMaxBytes);
}

// A few comings and goings are told one by one after the gathering; a
// burst is counted, one line per kind; one who comes and goes within a
// gathering is not told; gatherings are told 20 s apart at the most, and
// after a counted burst a single one is told by nick again.
TEST(PresenceNotices, FewAreToldOneByOneABurstIsCountedAStormIsSlowed) {
    const auto t0 = std::chrono::steady_clock::time_point{} + 1h;
    PresenceNotices notices("#chat", "IRC");
    EXPECT_FALSE(notices.dueIn(t0));
    notices.note(ChatKind::Joined, "alice", t0);
    notices.note(ChatKind::Kicked, "bob", t0 + 1s);
    notices.note(ChatKind::Joined, "flicker", t0 + 1s);
    notices.note(ChatKind::Quit, "flicker", t0 + 1s);
    EXPECT_EQ(notices.dueIn(t0 + 1s), std::chrono::steady_clock::duration(1s));
    EXPECT_TRUE(notices.take(t0 + 1s).empty());
    EXPECT_EQ(notices.take(t0 + 2s), (std::vector<std::string>{"* alice joined #chat", "* bob was kicked from #chat"}));
    EXPECT_FALSE(notices.dueIn(t0 + 2s));
    for (int i = 0; i < 30; ++i)
        notices.note(ChatKind::Quit, "user" + std::to_string(i), t0 + 3s);
    notices.note(ChatKind::Left, "carol", t0 + 3s);
    EXPECT_EQ(notices.dueIn(t0 + 5s), std::chrono::steady_clock::duration(17s));
    EXPECT_EQ(notices.take(t0 + 22s), (std::vector<std::string>{"* 1 user left #chat", "* 30 users quit IRC"}));
    notices.note(ChatKind::Joined, "dave", t0 + 30s);
    EXPECT_EQ(notices.take(t0 + 42s), std::vector<std::string>{"* dave joined #chat"});
}

TEST(StatusLine, DurationsAreShortAndExact) {
    EXPECT_EQ(durationText(0s), "0s");
    EXPECT_EQ(durationText(59s), "59s");
    EXPECT_EQ(durationText(245s), "4m05s");
    EXPECT_EQ(durationText(2h + 3min + 9s), "2h03m");
    EXPECT_EQ(durationText(24h * 5 + 1h), "5d01h");
}
