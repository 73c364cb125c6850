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
    // The IRC lines one hub line becomes, one per text line.
    std::string dcToIrc(const std::string& line) {
        std::vector<std::string> lines{"untouched"};
        if (!translator.DCtoIRC(line, lines))
            return lines == std::vector<std::string>{"untouched"} ? "<dropped>" : "<output touched>";
        std::string joined;
        for (const std::string& out : lines)
            joined += (joined.empty() ? "" : "\n") + out;
        return joined;
    }

    Translator translator;
};

}  // namespace

TEST(TranslatorUnconfigured, DropsEverythingAndLeavesTheOutput) {
    Translator translator;
    std::string out = "kept";
    std::vector<std::string> lines{"kept"};
    EXPECT_FALSE(translator.IRCtoDC(":nick PRIVMSG #chat :hi", out));
    EXPECT_FALSE(translator.DCtoIRC("<nick> hi", lines));
    EXPECT_EQ(out, "kept");
    EXPECT_EQ(lines, std::vector<std::string>{"kept"});
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
    EXPECT_EQ(ircToDc(":alice!a!l@h PRIVMSG #chat :x"), "<dropped>");
}

TEST_F(TranslatorTest, PrefixesThatAreNotNickUserHostAreDropped) {
    EXPECT_EQ(ircToDc(":alice!al PRIVMSG #chat :user without host"), "<dropped>");
    EXPECT_EQ(ircToDc("PRIVMSG #chat :no prefix"), "<dropped>");
    EXPECT_EQ(ircToDc("@time=2026-01-01T00:00:00Z :alice PRIVMSG #chat :tagged"), "<dropped>");
    EXPECT_EQ(ircToDc(": PRIVMSG #chat :empty nick"), "<dropped>");
    EXPECT_EQ(ircToDc(":alice  PRIVMSG #chat :two spaces"), "<dropped>");
}

TEST_F(TranslatorTest, OnlyPrivmsgToOurChannelIsRelayed) {
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

TEST_F(TranslatorTest, ColonInTheChannelDoesNotEndUpInTheText) {
    configure("#a:b");
    EXPECT_EQ(ircToDc(":n!u@h PRIVMSG #a:b :text"), "<bot> <n> text");
}

TEST_F(TranslatorTest, HubChatLinesBecomeOnePrivmsgPerLineWithTheSpeakerInFront) {
    EXPECT_EQ(dcToIrc("<alice> hello"), "PRIVMSG #chat :<alice> hello");
    EXPECT_EQ(dcToIrc("<alice> a|b $c :d"), "PRIVMSG #chat :<alice> a|b $c :d");
    EXPECT_EQ(dcToIrc("<alice> two\r\n\nlines\r\n"), "PRIVMSG #chat :<alice> two\nPRIVMSG #chat :<alice> lines");
    EXPECT_EQ(dcToIrc("<alice> "), "<dropped>");
    EXPECT_EQ(dcToIrc("<alice> \r\n\n"), "<dropped>");
}

TEST_F(TranslatorTest, HubCommandsAndMalformedChatLinesAreDropped) {
    for (const char* line : {"$Lock EXTENDEDPROTOCOL Pk=x", "$Hello alice", "$MyINFO $ALL alice x$ $1$$0$",
                             "$To: bot From: alice $<alice> private", "<> empty nick", "<al ice> space",
                             "<al$ice> dollar", "<al|ice> pipe", "<al<ice> lt", "<al\nice> line feed", "<al\rice> return",
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
    EXPECT_EQ(dcToIrc(line), "<dropped>");  // our own echo
    const std::string refused = ":x NOTICE #chat :no";
    line = refused;
    EXPECT_FALSE(translator.IRCtoDC(line, line));
    EXPECT_EQ(line, refused);
}

TEST_F(TranslatorTest, ActionsCrossAsActionsAndOtherCtcpStaysOnIrc) {
    EXPECT_EQ(ircToDc(":alice PRIVMSG #chat :\x01" "ACTION waves\x01"), "<bot> * alice waves");
    EXPECT_EQ(ircToDc(":alice PRIVMSG #chat :\x01" "ACTION waves"), "<bot> * alice waves");
    EXPECT_EQ(ircToDc(":alice PRIVMSG #chat :\x01VERSION\x01"), "<dropped>");
    EXPECT_EQ(ircToDc(":alice PRIVMSG #chat :\x01" "ACTIONS\x01"), "<dropped>");
    EXPECT_EQ(dcToIrc("<carol> /me dances"), "PRIVMSG #chat :\x01" "ACTION <carol> dances\x01");
    EXPECT_EQ(dcToIrc("<carol> /metoo"), "PRIVMSG #chat :<carol> /metoo");
}

TEST_F(TranslatorTest, FormattingCodesAreRemovedOnTheWayToTheHub) {
    EXPECT_EQ(ircToDc(":alice PRIVMSG #chat :\x02" "bold\x02 \x03" "4,12red\x03 \x1Dit\x1D \x1Fun\x0F"),
              "<bot> <alice> bold red it un");
}

TEST_F(TranslatorTest, TheChannelIsComparedAsTheServerComparesNames) {
    configure("#Relay[1]");
    EXPECT_EQ(ircToDc(":alice PRIVMSG #relay{1} :hi"), "<bot> <alice> hi");
    EXPECT_EQ(ircToDc(":alice PRIVMSG #RELAY[1] :hi"), "<bot> <alice> hi");
    translator.setServerView({107, CaseMapping::Ascii});
    EXPECT_EQ(ircToDc(":alice PRIVMSG #relay{1} :hi"), "<dropped>");
    EXPECT_EQ(ircToDc(":alice PRIVMSG #RELAY[1] :hi"), "<bot> <alice> hi");
}

TEST_F(TranslatorTest, ANickTooLongToLeaveRoomForTextIsShortenedInTheTag) {
    translator.setServerView({100, CaseMapping::Rfc1459});
    std::vector<std::string> lines;
    ASSERT_TRUE(translator.DCtoIRC("<" + std::string(600, 'n') + "> hello", lines));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_LE(100 + lines[0].size() + 2, 512u);
    EXPECT_EQ(lines[0].substr(lines[0].size() - 7), "> hello");
}

TEST_F(TranslatorTest, HubNicksMayHoldAnythingNmdcAllows) {
    EXPECT_EQ(dcToIrc("<al\\ice> hi"), "PRIVMSG #chat :<al\\ice> hi");
    EXPECT_EQ(dcToIrc("<[Ru]\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd> hi"), "PRIVMSG #chat :<[Ru]\xd0\x98\xd0\xb2\xd0\xb0\xd0\xbd> hi");
}

TEST_F(TranslatorTest, IgnoredSpeakersAreNotRelayedEitherWay) {
    Config config = settings();
    config.ignore_nicks = "Hub-Security, ChanServ ,,other_bridge";
    ASSERT_TRUE(translator.setConfig(config));
    EXPECT_EQ(dcToIrc("<hub-security> Welcome"), "<dropped>");
    EXPECT_EQ(dcToIrc("<other_bridge> <x> looping"), "<dropped>");
    EXPECT_EQ(ircToDc(":chanserv!s@services PRIVMSG #chat :Registered"), "<dropped>");
    EXPECT_EQ(ircToDc(":Other_Bridge!b@h PRIVMSG #chat :<y> looping"), "<dropped>");
    EXPECT_EQ(dcToIrc("<carol> hi"), "PRIVMSG #chat :<carol> hi");
}

// Every line fits the protocol's 512 bytes as other users receive it, with
// the server's prefix for us in front and CR LF behind.
TEST_F(TranslatorTest, LongHubMessagesBecomeLinesThatFitAsOthersReceiveThem) {
    const std::string prefix = ":bot!~bot@some.rather.long.host.name.example.net ";
    translator.setServerView({prefix.size(), CaseMapping::Rfc1459});
    std::string text;
    for (int i = 0; text.size() < 5000; ++i)
        text += "word" + std::to_string(i) + " \xd0\x96 ";
    std::vector<std::string> lines;
    ASSERT_TRUE(translator.DCtoIRC("<alice> " + text, lines));
    ASSERT_EQ(lines.size(), Translator::kMaxLinesPerHubMessage);
    std::string relayed;
    for (const std::string& line : lines) {
        EXPECT_LE(prefix.size() + line.size() + 2, 512u) << line;
        EXPECT_EQ(line.compare(0, 23, "PRIVMSG #chat :<alice> "), 0) << line;
        relayed += line.substr(23) + " ";
    }
    EXPECT_NE(lines.back().find(" more bytes]"), std::string::npos);
    EXPECT_EQ(text.compare(0, relayed.size() - 200, relayed.substr(0, relayed.size() - 200)), 0);
}

TEST_F(TranslatorTest, TextIsConvertedBetweenTheHubsSetAndUtf8) {
    Config config = settings();
    config.dc.dc_encoding = "CP1251";
    ASSERT_TRUE(translator.setConfig(config));
    EXPECT_EQ(dcToIrc("<ivan> \xcf\xf0\xe8\xe2\xe5\xf2"), "PRIVMSG #chat :<ivan> \xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82");
    EXPECT_EQ(dcToIrc("<ivan> \xd0\x9f\xd1\x80\xd0\xb8"), "PRIVMSG #chat :<ivan> \xd0\x9f\xd1\x80\xd0\xb8");
    EXPECT_EQ(ircToDc(":anna PRIVMSG #chat :\xd0\x9f\xd1\x80\xd0\xb8 caf\xc3\xa9"), "<bot> <anna> \xcf\xf0\xe8 caf?");
    EXPECT_EQ(ircToDc(":anna PRIVMSG #chat :caf\xe9"), "<bot> <anna> caf?");
    config.dc.dc_encoding = "no-such-set";
    EXPECT_FALSE(translator.setConfig(config));
    EXPECT_EQ(translator.getConfig().dc.dc_encoding, "CP1251");
}

TEST_F(TranslatorTest, WithAUtf8HubOtherTextIsReadAsCp1252) {
    EXPECT_EQ(dcToIrc("<jo> caf\xe9 \x80"), "PRIVMSG #chat :<jo> caf\xc3\xa9 \xe2\x82\xac");
    EXPECT_EQ(ircToDc(":jo PRIVMSG #chat :caf\xe9"), "<bot> <jo> caf\xc3\xa9");
}
