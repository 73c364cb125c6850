#include <gtest/gtest.h>

#include <set>

#include "dc/DCClient.h"
#include "irc/IRCClient.h"
#include "translator/Translator.h"

namespace {

// The sides are there for how each compares nicks; nothing connects.
class TranslatorTest : public ::testing::Test {
protected:
    void ignore(const std::string& nicks) {
        Config config;
        config.ignore_nicks = nicks;
        translator.setConfig(config);
    }
    // The hub texts one IRC message becomes, each within room.
    std::string toHub(std::string_view speaker, std::string_view text, bool action = false, std::size_t room = 256) {
        std::vector<std::string> texts{"untouched"};
        if (!translator.IRCtoDC({speaker, text, action}, irc, room, texts))
            return texts == std::vector<std::string>{"untouched"} ? "<dropped>" : "<output touched>";
        std::string joined;
        for (const std::string& piece : texts)
            joined += (joined.empty() ? "" : "\n") + piece;
        return joined;
    }
    // The IRC texts one hub message becomes, one per line of it.
    std::string toIrc(std::string_view speaker, std::string_view text, std::size_t room = 400) {
        std::vector<std::string> lines{"untouched"};
        if (!translator.DCtoIRC({speaker, text, false}, hub, room, lines))
            return lines == std::vector<std::string>{"untouched"} ? "<dropped>" : "<output touched>";
        std::string joined;
        for (const std::string& line : lines)
            joined += (joined.empty() ? "" : "\n") + line;
        return joined;
    }

    Translator translator;
    IRCClient irc;
    DCClient hub;
};

}  // namespace

TEST_F(TranslatorTest, ChannelChatIsSaidOnTheHubWithTheSpeakerInFrontAndWithoutFormatting) {
    EXPECT_EQ(toHub("alice", "hello there"), "<alice> hello there");
    EXPECT_EQ(toHub("alice", ""), "<dropped>");
    EXPECT_EQ(toHub("alice", "pipe | dollar $ a:b \xc3\xa9"), "<alice> pipe | dollar $ a:b \xc3\xa9");
    EXPECT_EQ(toHub("alice", "waves", true), "* alice waves");
    EXPECT_EQ(toHub("alice", "\x02" "bold\x02 \x03" "4,12red\x03 \x1Dit\x1D \x1Fun\x0F"), "<alice> bold red it un");
    // Hubs refuse a message over their bound: a long line goes in pieces,
    // each with the speaker, cut at spaces.
    std::string words;
    for (int i = 0; i < 60; ++i)
        words += "word" + std::to_string(i) + " ";
    const std::string pieces = toHub("alice", words, false, 128);
    EXPECT_EQ(pieces.rfind("<alice> word0 word1 ", 0), 0u) << pieces;
    std::size_t count = 0;
    for (std::size_t at = 0, end; at < pieces.size(); at = end + 1, ++count) {
        end = std::min(pieces.find('\n', at), pieces.size());
        EXPECT_LE(end - at, 128u);
        EXPECT_EQ(pieces.compare(at, 8, "<alice> "), 0);
    }
    EXPECT_EQ(count, 4u) << pieces;
    // A bare CR or LF a server let through ends a piece: it never starts a
    // line of the hub message that reads as someone else's.
    EXPECT_EQ(toHub("alice", "one\r<Admin> two\nthree"), "<alice> one\n<alice> <Admin> two\n<alice> three");
}

TEST_F(TranslatorTest, HubChatIsSaidInTheChannelOneLinePerLineWithTheSpeakerInFront) {
    EXPECT_EQ(toIrc("alice", "hello"), "<alice> hello");
    EXPECT_EQ(toIrc("alice", "a|b $c :d"), "<alice> a|b $c :d");
    EXPECT_EQ(toIrc("alice", "two\r\n\nlines\r\n"), "<alice> two\n<alice> lines");
    EXPECT_EQ(toIrc("al\\ice", "hi"), "<al\\ice> hi");
    EXPECT_EQ(toIrc("alice", ""), "<dropped>");
    EXPECT_EQ(toIrc("alice", "\r\n\n"), "<dropped>");
}

TEST_F(TranslatorTest, TextOrSpeakersHoldingNulAndIgnoredSpeakersDoNotCross) {
    EXPECT_EQ(toHub("alice", std::string_view("a\0b", 3)), "<dropped>");
    EXPECT_EQ(toIrc(std::string_view("al\0ice", 6), "hi"), "<dropped>");
    EXPECT_EQ(toIrc("", "hi"), "<dropped>");
    ignore("Hub-Security, ChanServ ,,other_bridge");
    EXPECT_EQ(toIrc("hub-security", "Welcome"), "<dropped>");
    EXPECT_EQ(toIrc("other_bridge", "<x> looping"), "<dropped>");
    EXPECT_EQ(toHub("chanserv", "Registered"), "<dropped>");
    EXPECT_EQ(toHub("Other_Bridge", "<y> looping"), "<dropped>");
    // IRC compares nicks as the server does, "[]" and "{}" alike.
    ignore("bridge[1]");
    EXPECT_EQ(toHub("BRIDGE{1}", "x"), "<dropped>");
    EXPECT_EQ(toIrc("bridge{1}", "x"), "<bridge{1}> x");
    EXPECT_EQ(toIrc("carol", "hi"), "<carol> hi");
}

// Every piece fits the room one IRC message has, the speaker's tag in front.
TEST_F(TranslatorTest, LongHubMessagesBecomeAtMostTenPiecesThatFitTheRoom) {
    std::string text;
    for (int i = 0; text.size() < 5000; ++i)
        text += "word" + std::to_string(i) + " \xd0\x96 ";
    std::vector<std::string> lines;
    ASSERT_TRUE(translator.DCtoIRC({"alice", text, false}, hub, 420, lines));
    ASSERT_EQ(lines.size(), Translator::kMaxLinesPerHubMessage);
    std::string relayed;
    for (const std::string& line : lines) {
        EXPECT_LE(line.size(), 420u) << line;
        EXPECT_EQ(line.compare(0, 8, "<alice> "), 0) << line;
        relayed += line.substr(8) + " ";
    }
    EXPECT_NE(lines.back().find(" more bytes]"), std::string::npos);
    EXPECT_EQ(text.compare(0, relayed.size() - 200, relayed.substr(0, relayed.size() - 200)), 0);
    // A nick too long to leave room for text is shortened in the tag.
    ASSERT_TRUE(translator.DCtoIRC({std::string(600, 'n'), "hello", false}, hub, 300, lines));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_LE(lines[0].size(), 300u);
    EXPECT_EQ(lines[0].substr(lines[0].size() - 7), "> hello");
    // However little room the IRC side reports (a 430-byte host), a line is
    // never cut into single characters.
    const std::string shortLine = "a hub line of thirty-one bytes.";
    ASSERT_TRUE(translator.DCtoIRC({std::string(80, 'n'), shortLine, false}, hub, 0, lines));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(lines[0].size() - shortLine.size()), shortLine);
}

// Marked nicks: a zero-width space after the first character (never inside
// one), a colour the same nick always gets and nicks spread over; the text
// and the hub side untouched, and the marks counted once against the room.
TEST_F(TranslatorTest, HubNicksAreMarkedAsConfiguredAndTheTextIsLeftAlone) {
    Config config;
    config.irc.irc_nick_nohighlight = "yes";
    config.irc.irc_nick_colors = "yes";
    translator.setConfig(config);
    const auto colour = [](const std::string& nick) {
        const int number = nickColour(nick);
        return std::string("\x03") + static_cast<char>('0' + number / 10) + static_cast<char>('0' + number % 10);
    };
    EXPECT_EQ(toIrc("carol", "hi carol"), "<" + colour("carol") + "c\xe2\x80\x8b" "arol\x03> hi carol");
    EXPECT_EQ(toIrc("\xc3\x89t\xc3\xa9", "x"), "<" + colour("\xc3\x89t\xc3\xa9") + "\xc3\x89\xe2\x80\x8bt\xc3\xa9\x03> x");
    EXPECT_EQ(toIrc("c", "x"), "<" + colour("c") + "c\x03> x");
    EXPECT_EQ(toHub("carol", "hi"), "<carol> hi");
    std::set<int> colours;
    for (int i = 0; i < 40; ++i)
        colours.insert(nickColour("user" + std::to_string(i)));
    EXPECT_GE(colours.size(), 8u);
    EXPECT_EQ(nickColour("carol"), nickColour(std::string("carol")));

    std::vector<std::string> lines;
    ASSERT_TRUE(translator.DCtoIRC({"carol", std::string(300, 'w'), false}, hub, 130, lines));
    const std::size_t tag = std::string("<" + colour("carol") + "c\xe2\x80\x8b" "arol\x03> ").size();
    EXPECT_EQ(translator.tagBytes(), tag);
    std::size_t carried = 0;
    for (const std::string& line : lines) {
        EXPECT_LE(line.size(), 130u);
        carried += line.size() - tag;
    }
    EXPECT_EQ(carried, 300u);
    EXPECT_EQ(lines.size(), 3u);
}
