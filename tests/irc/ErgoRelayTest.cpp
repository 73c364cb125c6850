// The real brivox binary between a real Ergo, which offers relayed nicks
// (draft/relaymsg) to channel operators, and the scripted hub. alice is a
// plain IRC client in the channel: no capabilities, no tags.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "ErgoRunner.h"
#include "IrcUser.h"
#include "ProcessRunner.h"
#include "RelayHarness.h"
#include "ScriptedHub.h"
#include "SharedPeers.h"
#include "TempDir.h"

namespace {

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size())
        ++count;
    return count;
}

class ErgoRelayTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_WITHOUT_SHARED_PEER(ErgoRunner::whyUnavailable());
        ergo = std::make_unique<ErgoRunner>();
    }
    void TearDown() override {
        if (HasFailure() && ergo)
            std::fprintf(stderr, "brivox said:\n%s\nErgo said:\n%s\n", brivox.stderrText().c_str(),
                         ergo->log().substr(0, 20000).c_str());
    }

    // brivox in the channel with relayed nicks wanted; first in it, and so
    // its operator, unless alice is there before it.
    void startRelay(bool botFirst) {
        if (!botFirst)
            aliceJoins();
        const std::string config = "irc_port = " + std::to_string(ergo->port()) +
                                   "\ndc_port = " + std::to_string(hub.port()) +
                                   "\nirc_relaymsg = yes\nirc_line_interval = 0\ndc_message_interval = 0\n";
        brivox.start(brivoxBinary(), {"-d", "-c", dir.write("brivox.conf", config)});
        hub.accept();
        logInToScriptedHub(hub, brivox);
        ASSERT_TRUE(brivox.waitForStderr("Joined #chat", std::chrono::seconds(20)));
        if (botFirst)
            aliceJoins();
    }
    void aliceJoins() {
        alice = std::make_unique<IrcUser>(ergo->port(), "alice");
        alice->join("#chat");
    }
    // The next chat line in the channel as alice receives it, from the prefix on.
    std::string channelLine() { return alice->waitFor("PRIVMSG #chat"); }

    TempDir dir;
    std::unique_ptr<ErgoRunner> ergo;
    ScriptedHub hub;
    std::unique_ptr<IrcUser> alice;
    ProcessRunner brivox;
};

}  // namespace

// As channel operator the bot lets hub users speak under their own nicks:
// plain lines, actions and every line of a multi-line message; a nick with
// what no nick may hold is mended; one the server refuses (Ergo here takes
// ASCII nicks only) goes out in the bot's form, told once. What alice says
// reaches the hub once, and the relayed lines that come back to the bot are
// not sent back to the hub.
TEST_F(ErgoRelayTest, HubUsersSpeakUnderTheirOwnNicks) {
    startRelay(true);
    EXPECT_TRUE(brivox.waitForStderr("the server lets hub users speak under their own nicks, as \"carol/dc\""));
    // Ergo gives relayed nicks the bot's host, which it knows by no name here.
    hub.userSays("carol", "hello");
    EXPECT_EQ(channelLine(), ":carol/dc!~u@ PRIVMSG #chat :hello");
    hub.userSays("carol", "/me waves");
    EXPECT_EQ(channelLine(), ":carol/dc!~u@ PRIVMSG #chat :\x01" "ACTION waves\x01");
    hub.userSays("carol", "first\r\nsecond");
    EXPECT_EQ(channelLine(), ":carol/dc!~u@ PRIVMSG #chat :first");
    EXPECT_EQ(channelLine(), ":carol/dc!~u@ PRIVMSG #chat :second");
    hub.userSays("x.y*z", "mended");
    EXPECT_EQ(channelLine(), ":x_y_z/dc!~u@ PRIVMSG #chat :mended");
    for (const char* text : {"refused", "still refused"}) {
        hub.userSays("Jos\xc3\xa9", text);
        const std::string line = channelLine();
        EXPECT_EQ(line.substr(line.find(" PRIVMSG ")), " PRIVMSG #chat :<Jos\xc3\xa9> " + std::string(text));
    }
    hub.userSays("carol", "still relayed");
    EXPECT_EQ(channelLine(), ":carol/dc!~u@ PRIVMSG #chat :still relayed");
    EXPECT_EQ(occurrences(brivox.stderrText(), "refused the relayed nick \"Jos\xc3\xa9/dc\""), 1u);

    alice->say("#chat", "from irc");
    EXPECT_EQ(hub.readChat(), "<brivox> <alice> from irc");
    alice->say("#chat", "and again");
    EXPECT_EQ(hub.readChat(), "<brivox> <alice> and again");
}

// Without channel operator status the bot's lines go out in its own form,
// with one line in its log, and none is lost.
TEST_F(ErgoRelayTest, WithoutTheRightsTheBotsFormStays) {
    startRelay(false);
    for (const std::string text : {"hello", "again"}) {
        hub.userSays("carol", text);
        const std::string line = channelLine();
        EXPECT_EQ(line.substr(0, 8), ":brivox!") << line;
        EXPECT_EQ(line.substr(line.find(" :") + 2), "<carol> " + text);
    }
    EXPECT_EQ(occurrences(brivox.stderrText(), "hub chat goes out as the bot's until the next log-in"), 1u);
}
