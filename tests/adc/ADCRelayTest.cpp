// The real brivox binary between a real ngircd and a real uhub, with alice
// in the channel and carol on the hub.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>

#include "AdcUser.h"
#include "Eventually.h"
#include "IrcUser.h"
#include "NgircdRunner.h"
#include "ProcessRunner.h"
#include "RelayHarness.h"
#include "TempDir.h"
#include "TestCertificates.h"
#include "UhubRunner.h"
#include "adc/tiger.h"
#include "net/TlsSession.h"
#include "net/base32.h"

namespace {

class ADCRelayTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!NgircdRunner::available() || !UhubRunner::available() || !tigerAvailable())
            GTEST_SKIP() << "needs ngircd, uhub and a build with ADC";
        irc = std::make_unique<NgircdRunner>(false);
        alice = std::make_unique<IrcUser>(irc->port(), "alice");
        alice->join("#chat");
    }

    void TearDown() override {
        if (HasFailure())
            std::fprintf(stderr, "brivox said:\n%s\n", brivox.stderrText().c_str());
    }

    // uhub, then brivox against it; the address is adc://127.0.0.1:port
    // unless extra names another.
    void startHub(const UhubOptions& options = UhubOptions()) { hub = std::make_unique<UhubRunner>(options); }
    void startBrivox(const std::string& extra = "") {
        // No pacing on either side, unless a test asks for it.
        const std::string config = dir.write(
            "brivox.conf", "irc_port = " + std::to_string(irc->port()) + "\ndc_server = adc://127.0.0.1:" +
                               std::to_string(hub->port()) +
                               "\ndc_pass = secret\ndc_message_interval = 0\nirc_line_interval = 0\n"
                               "reconnect_delay_min = 1\n" + extra);
        brivox.start(brivoxBinary(), {"-d", "-c", config});
    }
    void startRelay(const std::string& extra = "") {
        startBrivox(extra);
        alice->waitFor(":brivox!", std::chrono::seconds(20));
        ASSERT_TRUE(brivox.waitForStderr("Logged in to the hub as brivox"));
        carol = std::make_unique<AdcUser>(hub->port(), "carol");
    }
    std::string channelText() {
        const std::string line = alice->waitFor("PRIVMSG #chat");
        return line.substr(line.find("PRIVMSG #chat :") + 15);
    }

    TempDir dir;
    std::unique_ptr<NgircdRunner> irc;
    std::unique_ptr<IrcUser> alice;
    std::unique_ptr<UhubRunner> hub;
    std::unique_ptr<AdcUser> carol;
    ProcessRunner brivox;
};

// The SHA-256 of a certificate in DER, as an adcs:// address gives it.
std::string keyPrintOf(const std::string& certificate) {
    FILE* pipe = popen(("openssl x509 -in " + certificate + " -outform DER | openssl dgst -sha256 -binary").c_str(), "r");
    std::string digest(32, '\0');
    const std::size_t got = std::fread(digest.data(), 1, digest.size(), pipe);
    pclose(pipe);
    digest.resize(got);
    return base32Encode(digest);
}

// Spaces, backslashes, a literal "\s", UTF-8 and formatting reach the hub
// as said; hub chat, a message of several lines and an action reach the
// channel as said.
TEST_F(ADCRelayTest, ChatCrossesBothWaysByteForByte) {
    startHub();
    startRelay();
    const std::string texts[] = {"  two  spaces", "back\\slash and a literal \\s and \\n", "caf\xc3\xa9 \xe2\x82\xac",
                                 "pipe | dollar $ amp &amp;", "!not a command"};
    for (const std::string& text : texts) {
        alice->say("#chat", text);
        EXPECT_EQ(carol->readChat(), "<brivox> <alice> " + text);
    }
    alice->say("#chat", "\x01" "ACTION waves \x03" "4red\x03\x01");
    EXPECT_EQ(carol->readChat(), "<brivox> * alice waves red");
    // Latin-1 from an IRC client is read as CP1252, as for an NMDC hub.
    alice->say("#chat", "caf\xe9");
    EXPECT_EQ(carol->readChat(), "<brivox> <alice> caf\xc3\xa9");

    // A hub user's "!..." is a command for the hub.
    for (const std::string& text : texts) {
        if (text[0] == '!')
            continue;
        carol->say(text);
        EXPECT_EQ(channelText(), "<carol> " + text);
    }
    carol->say("first line\nsecond  line");
    EXPECT_EQ(channelText(), "<carol> first line");
    EXPECT_EQ(channelText(), "<carol> second  line");
    carol->say("dances", true);
    EXPECT_EQ(channelText(), "\x01" "ACTION <carol> dances\x01");
    EXPECT_EQ(brivox.stderrText().find("ERROR"), std::string::npos);

    // Asked privately, the bot answers privately with who is in the channel.
    carol->sayTo("brivox", "who is there?");
    const std::string answer = carol->readPrivate();
    EXPECT_EQ(answer.rfind("<brivox> I am brivox ", 0), 0u) << answer;
    EXPECT_NE(answer.find("\nIn #chat now (1): alice\n"), std::string::npos) << answer;

    // ADC has no quit: the bot closes the link.
    brivox.signal(SIGTERM);
    EXPECT_EQ(brivox.waitExit(std::chrono::seconds(3)), 0);
    EXPECT_NE(brivox.stderrText().find("Stopped by SIGTERM; quit IRC, quit the hub"), std::string::npos);
}

// adcs:// with the hub's key print logs in over TLS without a certificate
// authority; a wrong key print ends the first log-in with status 2.
TEST_F(ADCRelayTest, TlsHubIsCheckedByItsKeyPrint) {
    if (!TlsSession::available() || !TestCertificates::available())
        GTEST_SKIP() << "needs a TLS build and openssl";
    TestCertificates certificates;
    UhubOptions options;
    options.tls = &certificates;
    startHub(options);
    const std::string print = keyPrintOf(certificates.serverCertificate());
    ASSERT_EQ(print.size(), 52u);
    const std::string address = "adcs://127.0.0.1:" + std::to_string(hub->port()) + "/?kp=SHA256/";
    startRelay("dc_server = " + address + print + "\n");
    EXPECT_TRUE(brivox.waitForStderr(", key print matched"));
    alice->say("#chat", "sealed");
    EXPECT_EQ(carol->readChat(), "<brivox> <alice> sealed");
    brivox.stop();

    ProcessRunner wrong;
    const std::string config = dir.write("wrong.conf", "irc_port = " + std::to_string(irc->port()) +
                                                           "\ndc_pass = secret\ndc_server = " + address +
                                                           std::string(52, 'A') + "\n");
    EXPECT_EQ(runBrivoxToEnd(wrong, {"-d", "-c", config}), 2);
    EXPECT_NE(wrong.stderrText().find(", not SHA256/" + std::string(52, 'A')), std::string::npos) << wrong.stderrText();
}

// Taken by someone else, the nick gets a "_"; a wrong password ends a first
// log-in with status 2 and the hub's words.
TEST_F(ADCRelayTest, NickTakenAndPasswordWrong) {
    UhubOptions options;
    options.accounts = {"reg brivox secret", "reg brivox_ secret"};
    startHub(options);
    AdcUser squatter(hub->port(), "brivox", "secret");
    startBrivox();
    ASSERT_TRUE(brivox.waitForStderr("Logged in to the hub as brivox_", std::chrono::seconds(20)))
        << brivox.stderrText();
    EXPECT_NE(brivox.stderrText().find("ADCClient: the hub says 222 Nickname is already in use"), std::string::npos);
    brivox.stop();

    ProcessRunner refused;
    const std::string config = dir.write("refused.conf", "irc_port = " + std::to_string(irc->port()) +
                                                             "\ndc_server = adc://127.0.0.1:" +
                                                             std::to_string(hub->port()) + "\ndc_pass = wrong\n");
    EXPECT_EQ(runBrivoxToEnd(refused, {"-d", "-c", config}), 2);
    EXPECT_NE(refused.stderrText().find("ADCClient: log-in given up: the hub refused us: Password is wrong"),
              std::string::npos)
        << refused.stderrText();
}

// A restarted hub gets the bot back, and chat flows again.
TEST_F(ADCRelayTest, HubRestartedWhileTheBotIsIn) {
    startHub();
    startRelay();
    carol.reset();
    hub->stop();
    ASSERT_TRUE(brivox.waitForStderr("DC++ connection closed. Trying to reconnect..."));
    hub->start();
    ASSERT_TRUE(eventually([&] { return brivox.stderrText().rfind("Logged in to the hub as brivox") >
                                        brivox.stderrText().find("DC++ connection closed"); },
                           std::chrono::seconds(20)));
    carol = std::make_unique<AdcUser>(hub->port(), "carol");
    alice->say("#chat", "welcome back");
    EXPECT_EQ(carol->readChat(), "<brivox> <alice> welcome back");
    EXPECT_EQ(brivox.stderrText().find(" 222 "), std::string::npos);
}

// Debian's flood limits drop chat beyond 5 messages in about 6 s; 20 lines
// said at once in the channel reach the hub whole, in order, with the
// default pacing: messages of at most 5 lines, one every 3 s, every line
// of them with the bot's tag.
TEST_F(ADCRelayTest, BurstFromIrcPassesTheHubsFloodLimits) {
    UhubOptions options;
    options.debianFloodLimits = true;
    startHub(options);
    startRelay("dc_message_interval = 3000\n");
    std::string expected;
    for (int i = 1; i <= 20; ++i) {
        const std::string text = "burst line " + std::to_string(i);
        alice->say("#chat", text);
        expected += (expected.empty() ? "" : "\n") + std::string("<brivox> <alice> ") + text;
    }
    std::vector<std::string> messages;
    std::string received;
    while (received != expected && messages.size() < 6) {
        messages.push_back(carol->readChat(std::chrono::seconds(15)));
        ASSERT_EQ(messages.back().rfind("<brivox> ", 0), 0u);
        EXPECT_LE(std::count(messages.back().begin(), messages.back().end(), '\n'), 4);
        received += (received.empty() ? "" : "\n") + messages.back();
    }
    EXPECT_EQ(received, expected);
    EXPECT_LE(messages.size(), 5u);
}

}  // namespace
