#include <gtest/gtest.h>

#include "translator/Translator.h"

namespace {

Config settings(const std::string& channel = "#chat", const std::string& hubNick = "bot") {
    Config config;
    config.irc.irc_channel = channel;
    config.dc.dc_nick = hubNick;
    return config;
}

// A configured translator; the fixture fails the test when setConfig refuses.
class TranslatorTest : public ::testing::Test {
protected:
    void configure(const std::string& channel, const std::string& hubNick = "bot") {
        ASSERT_TRUE(translator.setConfig(settings(channel, hubNick)));
    }
    void SetUp() override { configure("#chat"); }

    std::string ircToDc(const std::string& line) {
        std::string out = "untouched";
        return translator.IRCtoDC(line, out) ? out : "<dropped>";
    }
    std::string dcToIrc(const std::string& line) {
        std::string out = "untouched";
        return translator.DCtoIRC(line, out) ? out : "<dropped>";
    }

    Translator translator;
};

}  // namespace

TEST(TranslatorUnconfigured, DropsEverythingAndLeavesTheOutput) {
    Translator translator;
    std::string out = "kept";
    EXPECT_FALSE(translator.IRCtoDC(":nick PRIVMSG #chat :hi", out));
    EXPECT_FALSE(translator.DCtoIRC("<nick> hi", out));
    EXPECT_EQ(out, "kept");
    EXPECT_FALSE(translator.acceptableIRCMessage(":nick PRIVMSG #chat :hi"));
    EXPECT_FALSE(translator.acceptableDCMessage("<nick> hi"));
}

TEST(TranslatorUnconfigured, RefusesEmptyNickOrChannelAndKeepsAnEarlierConfiguration) {
    Translator translator;
    EXPECT_FALSE(translator.setConfig(settings("#chat", "")));
    EXPECT_FALSE(translator.setConfig(settings("", "bot")));
    ASSERT_TRUE(translator.setConfig(settings("#chat", "bot")));
    EXPECT_FALSE(translator.setConfig(settings("", "other")));
    EXPECT_EQ(translator.getConfig().dc.dc_nick, "bot");
    std::string out;
    EXPECT_TRUE(translator.IRCtoDC(":n PRIVMSG #chat :x", out));
}

TEST(TranslatorUnconfigured, ReconfigurationReplacesChannelAndNick) {
    Translator translator;
    ASSERT_TRUE(translator.setConfig(settings("#one", "bot")));
    ASSERT_TRUE(translator.setConfig(settings("#two", "bot_")));
    std::string out;
    EXPECT_FALSE(translator.IRCtoDC(":n PRIVMSG #one :x", out));
    EXPECT_TRUE(translator.IRCtoDC(":n PRIVMSG #two :x", out));
    EXPECT_EQ(out, "<bot_> <n> x");
    EXPECT_FALSE(translator.acceptableDCMessage("<bot_> echo"));
    EXPECT_TRUE(translator.acceptableDCMessage("<bot> someone else"));
}

TEST_F(TranslatorTest, ChannelMessagesBecomeHubLinesSpokenByTheBot) {
    EXPECT_EQ(ircToDc(":alice PRIVMSG #chat :hello there"), "<bot> <alice> hello there");
    EXPECT_EQ(ircToDc(":alice@host.example PRIVMSG #chat :hi"), "<bot> <alice> hi");
    EXPECT_EQ(ircToDc(":alice!~al@host.example PRIVMSG #chat :hi"), "<bot> <alice> hi");
    EXPECT_EQ(ircToDc(":alice!al@h PRIVMSG #chat :"), "<bot> <alice> ");
}

TEST_F(TranslatorTest, HostsShownAsIPv6AddressesAreRelayed) {
    EXPECT_EQ(ircToDc(":alice!al@2001:db8::1 PRIVMSG #chat :from v6"), "<bot> <alice> from v6");
    EXPECT_EQ(ircToDc(":alice@::1 PRIVMSG #chat :x:y"), "<bot> <alice> x:y");
    // Colons stay forbidden in the nick and the user.
    EXPECT_EQ(ircToDc(":al:ice!al@h PRIVMSG #chat :x"), "<dropped>");
    EXPECT_EQ(ircToDc(":alice!a:l@h PRIVMSG #chat :x"), "<dropped>");
}

TEST_F(TranslatorTest, PrefixesThatAreNotNickUserHostAreDropped) {
    EXPECT_EQ(ircToDc(":alice!al PRIVMSG #chat :user without host"), "<dropped>");
    EXPECT_EQ(ircToDc("PRIVMSG #chat :no prefix"), "<dropped>");
    EXPECT_EQ(ircToDc("@time=2026-01-01T00:00:00Z :alice PRIVMSG #chat :tagged"), "<dropped>");
    EXPECT_EQ(ircToDc(": PRIVMSG #chat :empty nick"), "<dropped>");
    EXPECT_EQ(ircToDc(":alice  PRIVMSG #chat :two spaces"), "<dropped>");
}

TEST_F(TranslatorTest, OnlyPrivmsgToExactlyOurChannelIsRelayed) {
    EXPECT_EQ(ircToDc(":alice PRIVMSG #Chat :case"), "<dropped>");
    EXPECT_EQ(ircToDc(":alice PRIVMSG #other :elsewhere"), "<dropped>");
    EXPECT_EQ(ircToDc(":alice PRIVMSG #chat,#other :several"), "<dropped>");
    EXPECT_EQ(ircToDc(":alice PRIVMSG bot :private"), "<dropped>");
    EXPECT_EQ(ircToDc(":alice NOTICE #chat :notice"), "<dropped>");
    EXPECT_EQ(ircToDc(":alice!a@h JOIN #chat"), "<dropped>");
    EXPECT_EQ(ircToDc(":irc.example.net 001 bot :Welcome"), "<dropped>");
    EXPECT_EQ(ircToDc(":irc.example.net 332 bot #chat :topic"), "<dropped>");
    EXPECT_EQ(ircToDc("PING :irc.example.net"), "<dropped>");
    EXPECT_EQ(ircToDc(":alice PRIVMSG #chat"), "<dropped>");
    EXPECT_EQ(ircToDc(":alice PRIVMSG #chatter :longer name"), "<dropped>");
}

TEST_F(TranslatorTest, TextIsCarriedByteForByte) {
    EXPECT_EQ(ircToDc(":alice PRIVMSG #chat :a:b :c"), "<bot> <alice> a:b :c");
    EXPECT_EQ(ircToDc(":alice PRIVMSG #chat :\x01" "ACTION waves\x01"), "<bot> <alice> \x01" "ACTION waves\x01");
    EXPECT_EQ(ircToDc(":alice PRIVMSG #chat :pipe | dollar $ percent %"),
              "<bot> <alice> pipe | dollar $ percent %");
    EXPECT_EQ(ircToDc(":alice PRIVMSG #chat :\xc3\xa9t\xc3\xa9"), "<bot> <alice> \xc3\xa9t\xc3\xa9");
}

TEST_F(TranslatorTest, RegexMetacharactersInTheChannelMatchOnlyThemselves) {
    const std::pair<const char*, const char*> cases[] = {
        {"#a.b", "#axb"}, {"#a+", "#aa"},      {"#a++", "#aaa"}, {"#[x]", "#x"},
        {"#a|b", "#a"},   {"#a\\d", "#a5"},    {"#a{2}", "#aa"}, {"#a*", "#"},
        {"#(a)", "#a"},   {"#^a$", "#a"},      {"#a?", "#"},     {"#a}", "#a"},
    };
    for (const auto& [channel, lookalike] : cases) {
        configure(channel);
        EXPECT_EQ(ircToDc(std::string(":n PRIVMSG ") + channel + " :x"), "<bot> <n> x") << channel;
        EXPECT_EQ(ircToDc(std::string(":n PRIVMSG ") + lookalike + " :x"), "<dropped>") << channel;
    }
}

TEST_F(TranslatorTest, EscapeLeavesTheRightBraceBare) {
    EXPECT_EQ(escapeChannelForRegex("#$()*+.?[\\]^{|}x"), "#\\$\\(\\)\\*\\+\\.\\?\\[\\\\\\]\\^\\{\\|}x");
}

TEST_F(TranslatorTest, ColonInTheChannelDoesNotEndUpInTheText) {
    configure("#a:b");
    EXPECT_EQ(ircToDc(":n!u@h PRIVMSG #a:b :text"), "<bot> <n> text");
}

TEST_F(TranslatorTest, HubChatLinesBecomePrivmsgsWithTheWholeLine) {
    EXPECT_EQ(dcToIrc("<alice> hello"), "PRIVMSG #chat :<alice> hello");
    EXPECT_EQ(dcToIrc("<alice> "), "PRIVMSG #chat :<alice> ");
    EXPECT_EQ(dcToIrc("<alice> a|b $c :d"), "PRIVMSG #chat :<alice> a|b $c :d");
    EXPECT_EQ(dcToIrc("<alice> two\nlines\r\n"), "PRIVMSG #chat :<alice> two\nlines\r\n");
}

TEST_F(TranslatorTest, HubCommandsAndMalformedChatLinesAreDropped) {
    for (const char* line : {"$Lock EXTENDEDPROTOCOL Pk=x", "$Hello alice", "$MyINFO $ALL alice x$ $1$$0$",
                             "$To: bot From: alice $<alice> private", "<> empty nick", "<al ice> space",
                             "<al$ice> dollar", "<al|ice> pipe", "<al\\ice> backslash", "<al<ice> lt",
                             "<al>ice> gt", "<alice>no space", "<alice>", "alice> hi", ""}) {
        EXPECT_EQ(dcToIrc(line), "<dropped>") << line;
    }
}

TEST_F(TranslatorTest, OwnEchoIsDroppedButLongerNicksPass) {
    EXPECT_EQ(dcToIrc("<bot> <alice> echoed"), "<dropped>");
    EXPECT_EQ(dcToIrc("<bot> "), "<dropped>");
    EXPECT_EQ(dcToIrc("<botany> hi"), "PRIVMSG #chat :<botany> hi");
    EXPECT_EQ(dcToIrc("<Bot> hi"), "PRIVMSG #chat :<Bot> hi");
}

TEST_F(TranslatorTest, LinesWithNulBytesAreDroppedOnBothSides) {
    EXPECT_EQ(ircToDc(std::string(":n PRIVMSG #chat :a\0b", 21)), "<dropped>");
    EXPECT_EQ(dcToIrc(std::string("<alice> a\0b", 11)), "<dropped>");
    EXPECT_EQ(dcToIrc(std::string("<alice> \0", 9)), "<dropped>");
}

TEST_F(TranslatorTest, ConvertsInPlaceAndLeavesARefusedLineAlone) {
    std::string line = ":alice!a@h PRIVMSG #chat :in place";
    ASSERT_TRUE(translator.IRCtoDC(line, line));
    EXPECT_EQ(line, "<bot> <alice> in place");
    ASSERT_TRUE(translator.DCtoIRC(line, line) == false);  // our own echo
    EXPECT_EQ(line, "<bot> <alice> in place");
    line = "<carol> back";
    ASSERT_TRUE(translator.DCtoIRC(line, line));
    EXPECT_EQ(line, "PRIVMSG #chat :<carol> back");
    const std::string refused = ":x NOTICE #chat :no";
    line = refused;
    EXPECT_FALSE(translator.IRCtoDC(line, line));
    EXPECT_EQ(line, refused);
}
