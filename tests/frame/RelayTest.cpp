#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <atomic>
#include <thread>

#include "Eventually.h"
#include "RelayHarness.h"
#include "ScriptedIrcServer.h"
#include "TestCertificates.h"
#include "TlsFront.h"
#include "dc/DCClient.h"
#include "irc/IRCMessage.h"
#include "net/LinePacer.h"
#include "net/TlsSession.h"
#include "platform.h"

namespace {

class RelayTest : public ::testing::Test {
protected:
    // The burst tests run against a server without penalties, which would
    // otherwise throttle every client to a few lines a second.
    void SetUp() override { SetUp(true); }
    void SetUp(bool penalties) {
        if (!NgircdRunner::available())
            GTEST_SKIP() << "ngircd is not installed";
        relay = std::make_unique<RelayHarness>(penalties);
    }
    void TearDown() override {
        if (HasFailure() && relay)
            std::fprintf(stderr, "brivox said:\n%s\n", relay->brivox.stderrText().c_str());
    }
    IrcUser& alice() { return *relay->alice; }
    ScriptedHub& hub() { return relay->hub; }
    std::string channelText(const std::string& line) {
        return line.substr(line.find("PRIVMSG #chat :") + 15);
    }

    std::unique_ptr<RelayHarness> relay;
};

class RelayBurstTest : public RelayTest {
protected:
    void SetUp() override { RelayTest::SetUp(false); }
};

// What follows starts with SIGTERM, SIGINT and SIGUSR1 blocked, as some
// supervisors and threaded launchers leave them for the programs they
// start.
struct StopSignalsBlocked {
    sigset_t saved;
    StopSignalsBlocked() {
        sigset_t stops;
        sigemptyset(&stops);
        sigaddset(&stops, SIGTERM);
        sigaddset(&stops, SIGINT);
        sigaddset(&stops, SIGUSR1);
        pthread_sigmask(SIG_BLOCK, &stops, &saved);
    }
    ~StopSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved, nullptr); }
};

// Kills a daemon that went to the background once the test is over.
struct DaemonGuard {
    pid_t pid = 0;
    ~DaemonGuard() {
        if (pid > 0)
            kill(pid, SIGKILL);
    }
};

}  // namespace

TEST_F(RelayTest, LinesThatMustNotCrossStayWhereTheyAre) {
    relay->start();
    alice().sendLine("NOTICE #chat :a notice");
    alice().say("brivox", "a private word");
    alice().say("#chat", "marker from irc");
    EXPECT_EQ(hub().readChat(), "<brivox> <alice> marker from irc");

    hub().send("$MyINFO $ALL carol desc$ $DSL\x01$c@x$0$");
    hub().send("$To: brivox From: carol $<carol> private");
    hub().send("<brivox> <alice> our own echo");
    hub().send("<> empty nick");
    hub().userSays("carol", "marker from hub");
    EXPECT_EQ(channelText(alice().waitFor("PRIVMSG #chat")), "<carol> marker from hub");
}

// ngircd offers no relayed nicks: with them wanted, the bot's form stays.
TEST_F(RelayTest, SeveralLinesInOnePacketArriveInOrder) {
    relay->start("irc_relaymsg = yes\n");
    EXPECT_TRUE(relay->brivox.waitForStderr(
        "hub chat goes out as the bot's until the next log-in: the server does not offer draft/relaymsg"));
    hub().userComes("carol");
    hub().userComes("dave");
    hub().send("<carol> one|<carol> two|<dave> three");
    for (const char* expected : {"<carol> one", "<carol> two", "<dave> three"})
        EXPECT_EQ(channelText(alice().waitFor("PRIVMSG #chat")), expected);
    alice().sendLine("PRIVMSG #chat :uno\r\nPRIVMSG #chat :dos\r\nPRIVMSG #chat :tres");
    for (const char* expected : {"uno", "dos", "tres"})
        EXPECT_EQ(hub().readChat(), std::string("<brivox> <alice> ") + expected);
}

TEST_F(RelayBurstTest, ThousandLinesEachWayArriveWholeAndInOrder) {
    relay->start("irc_line_interval = 0\n");
    std::string burst;
    for (int i = 0; i < 1000; ++i)
        burst += "<carol> hub line " + std::to_string(i) + "|";
    relay->hub.userComes("carol");
    relay->hub.send(burst.substr(0, burst.size() - 1));
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(channelText(alice().waitFor("PRIVMSG #chat")), "<carol> hub line " + std::to_string(i));
    std::string lines;
    for (int i = 0; i < 1000; ++i)
        lines += "PRIVMSG #chat :irc line " + std::to_string(i) + "\r\n";
    alice().sendLine(lines.substr(0, lines.size() - 2));
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(hub().readChat(), "<brivox> <alice> irc line " + std::to_string(i));
}

// Everything the hub said before it closed reaches the channel; after a
// session this short the bot waits for its schedule (10 s), and chat that
// comes with the hub's $Hello is relayed without waiting for more traffic.
// A long hub message arrives as lines that fit the protocol as others
// receive them, cut at spaces and never inside a character; a longer one
// than ten lines can carry says how much was left out.
TEST_F(RelayBurstTest, LongAndMultiLineHubMessagesArriveAsLinesThatFit) {
    relay->start("irc_line_interval = 0\n");
    hub().userSays("carol", "first line\r\nsecond line");
    EXPECT_EQ(channelText(alice().waitFor("PRIVMSG #chat")), "<carol> first line");
    EXPECT_EQ(channelText(alice().waitFor("PRIVMSG #chat")), "<carol> second line");
    for (const std::size_t size : {4000u, 5000u}) {
        std::string text;
        for (int i = 0; text.size() < size; ++i)
            text += (i ? " " : "") + std::string("\xd0\xb6\xd0\xb8\xd0\xb7\xd0\xbd\xd1\x8c") + std::to_string(i);
        hub().userSays("carol", text);
        std::string received;
        std::string line;
        do {
            line = alice().waitFor("PRIVMSG #chat");
            EXPECT_LE(line.size() + 2, 512u) << line;
            received += channelText(line).substr(8) + " ";
        } while (line.find(" more bytes]") == std::string::npos && received.size() < text.size());
        if (size == 4000u) {
            EXPECT_TRUE(received.substr(0, received.size() - 1) == text) << received.size() << " of " << text.size();
        } else {
            EXPECT_NE(line.find(" more bytes]"), std::string::npos);
            EXPECT_EQ(text.compare(0, 4000, received.substr(0, 4000)), 0);
        }
    }
    EXPECT_TRUE(relay->brivox.waitForStderr("did not fit in 10 IRC lines and were cut"));
}

// A channel created with another spelling than irc_channel, and a hub whose
// clients write CP1251: both directions keep working and IRC sees UTF-8.
TEST_F(RelayTest, ChannelSpelledOtherwiseAndHubInCp1251RelayBothWays) {
    alice().join("#Relay");
    relay->start("irc_channel = #relay\ndc_encoding = CP1251\n");
    const std::string privetUtf8 = "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82";
    hub().userSays("ivan", "\xcf\xf0\xe8\xe2\xe5\xf2");
    const std::string line = alice().waitFor("PRIVMSG #");
    EXPECT_EQ(line.substr(line.find(" :") + 2), "<ivan> " + privetUtf8);
    alice().say("#Relay", privetUtf8 + " caf\xc3\xa9");
    EXPECT_EQ(hub().readChat(), "<brivox> <alice> \xcf\xf0\xe8\xe2\xe5\xf2 caf?");
}

// The loss is logged when it happens, with when the next attempt comes: a
// session this short waits the default first delay of 10 s.
TEST_F(RelayTest, HubGoingAwayLosesNoLineAndRelayingResumes) {
    relay->start();
    hub().userComes("carol");
    hub().socket().send("<carol> one|<carol> two|<carol> three|");
    hub().dropClient();
    const auto lost = std::chrono::steady_clock::now();
    for (const char* expected : {"<carol> one", "<carol> two", "<carol> three"})
        EXPECT_EQ(channelText(alice().waitFor("PRIVMSG #chat")), expected);
    EXPECT_TRUE(relay->brivox.waitForStderr(
        "DC++ connection closed. Trying to reconnect... in 10 s; the hub said last: \"<carol> three\"\n",
        std::chrono::seconds(2)));
    EXPECT_LT(std::chrono::steady_clock::now() - lost, std::chrono::seconds(2));
    hub().accept(std::chrono::seconds(20));
    EXPECT_GE(std::chrono::steady_clock::now() - lost, std::chrono::seconds(9));
    HubLoginScript script;
    script.usersPresent = {"carol"};
    script.withWelcome = "<carol> in the welcome packet";
    relay->logInToHub(script);
    EXPECT_EQ(channelText(alice().waitFor("PRIVMSG #chat")), "<carol> in the welcome packet");
    alice().say("#chat", "after the hub came back");
    EXPECT_EQ(hub().readChat(), "<brivox> <alice> after the hub came back");
}

// The nick the hub made us take in one session is not carried into the
// next; our lines and the echo filter follow the nick of each session.
TEST_F(RelayTest, HubNickFollowsEachSessionAndStartsOverFromTheConfiguredOne) {
    HubLoginScript refusing;
    refusing.refusals = 1;
    relay->start("reconnect_delay_min = 1\n", {}, refusing);
    ASSERT_EQ(hub().currentNick(), "brivox_");
    alice().say("#chat", "to the renamed bot");
    EXPECT_EQ(hub().readChat(), "<brivox_> <alice> to the renamed bot");
    hub().dropClient();
    hub().accept(std::chrono::seconds(20));
    relay->logInToHub();
    ASSERT_EQ(hub().currentNick(), "brivox");
    alice().say("#chat", "to the bot as configured");
    EXPECT_EQ(hub().readChat(), "<brivox> <alice> to the bot as configured");
    hub().send("<brivox> <alice> to the bot as configured");
    hub().userSays("carol", "after the echo");
    EXPECT_EQ(channelText(alice().waitFor("PRIVMSG #chat")), "<carol> after the echo");
}

// Kicked, the bot is back within seconds; kept out by a ban, it says why
// and tries again on its schedule, dropping the hub's lines meanwhile.
TEST_F(RelayTest, KickedOrBannedTheBotGetsBackIntoTheChannel) {
    relay->start("reconnect_delay_min = 1\n");
    alice().sendLine("KICK #chat brivox :take a break");
    const auto kicked = std::chrono::steady_clock::now();
    relay->waitForBotJoin();
    const auto back = std::chrono::steady_clock::now() - kicked;
    std::printf("back in the channel %.1f s after the kick\n", std::chrono::duration<double>(back).count());
    EXPECT_LT(back, std::chrono::seconds(10));
    EXPECT_TRUE(relay->brivox.waitForStderr("Kicked from #chat by alice: take a break"));
    alice().say("#chat", "welcome back");
    EXPECT_EQ(hub().readChat(), "<brivox> <alice> welcome back");
    hub().userSays("carol", "thanks");
    EXPECT_EQ(channelText(alice().waitFor("PRIVMSG #chat")), "<carol> thanks");

    alice().sendLine("MODE #chat +b brivox!*@*");
    alice().sendLine("KICK #chat brivox :banned");
    ASSERT_TRUE(relay->brivox.waitForStderr("Cannot join #chat: 474 ", std::chrono::seconds(15)));
    hub().userSays("carol", "nobody hears this");
    alice().sendLine("MODE #chat -b brivox!*@*");
    relay->waitForBotJoin();
    hub().userSays("carol", "heard again");
    EXPECT_EQ(channelText(alice().waitFor("PRIVMSG #chat")), "<carol> heard again");
    EXPECT_TRUE(relay->brivox.waitForStderr("IRCClient: dropped 1 lines for #chat while not in it"));
}

TEST_F(RelayTest, IrcServerGoingAwayIsReconnectedAndRelayingResumes) {
    relay->start("reconnect_delay_min = 1\n");
    relay->alice.reset();
    relay->ircServer.stop();
    relay->ircServer.start();
    IrcUser bob(relay->ircServer.port(), "bob");
    bob.join("#chat");
    RelayHarness::waitUntilInChannel(bob, "brivox");
    bob.say("#chat", "after the server came back");
    EXPECT_EQ(hub().readChat(std::chrono::seconds(10)), "<brivox> <bob> after the server came back");
    hub().userSays("carol", "hello again");
    EXPECT_EQ(channelText(bob.waitFor("PRIVMSG #chat")), "<carol> hello again");
    EXPECT_TRUE(relay->brivox.waitForStderr("IRC connection closed. Trying to reconnect... in 1 s; the server said last: "));
}

TEST_F(RelayTest, BothSidesGoingAwayAreBothReconnected) {
    relay->start("reconnect_delay_min = 1\n");
    relay->alice.reset();
    relay->ircServer.stop();
    hub().dropClient();
    relay->ircServer.start();
    hub().accept(std::chrono::seconds(30));
    relay->logInToHub();
    IrcUser bob(relay->ircServer.port(), "bob");
    bob.join("#chat");
    RelayHarness::waitUntilInChannel(bob, "brivox");
    bob.say("#chat", "both back");
    EXPECT_EQ(hub().readChat(std::chrono::seconds(10)), "<brivox> <bob> both back");
}

// The bot has registered on IRC but not yet joined (it joins once both sides
// are logged in), so only its own traffic shows the QUIT.
TEST_F(RelayTest, HubRefusingTheFirstLoginEndsWithStatusTwoAndTheBotQuitsIrc) {
    relay->brivox.start(brivoxBinary(),
                        {"-d", "-L", "43", "-c", relay->dir.write("brivox.conf", relay->configText(""))});
    hub().accept();
    hub().sendLock("abcdefgh");
    hub().expectKey();
    hub().expectValidateNick();
    hub().send("$GetPass");
    hub().readCommand();
    hub().send("$BadPass");
    EXPECT_EQ(relay->brivox.waitExit(std::chrono::seconds(10)), 2);
    EXPECT_NE(relay->brivox.stderrText().find("Connecting to DC++... \n"), std::string::npos);
    EXPECT_NE(relay->brivox.stderrText().find("ERROR\n"), std::string::npos);
    EXPECT_NE(relay->brivox.stderrText().find(" > QUIT\n"), std::string::npos);
}

TEST_F(RelayTest, EmptyChannelIsRefusedBeforeAnyConnection) {
    ProcessRunner brivox;
    const std::string config = relay->dir.write("bad.conf", relay->configText("irc_channel =\n"));
    EXPECT_EQ(runBrivoxToEnd(brivox, {"-d", "-c", config}), 1);
    EXPECT_NE(brivox.stderrText().find(":4: irc_channel: must not be empty\n"), std::string::npos)
        << brivox.stderrText();
    EXPECT_NE(brivox.stderrText().find(": Incorrect config for IRC\n"), std::string::npos);
    EXPECT_EQ(brivox.stderrText().find("Connecting"), std::string::npos);
    EXPECT_THROW(hub().accept(std::chrono::milliseconds(200)), std::runtime_error);
}

// Also when the daemon was started with the stop signals blocked.
TEST_F(RelayTest, SigtermSaysGoodbyeToBothSidesAndExitsWithStatusZero) {
    {
        const StopSignalsBlocked blocked;
        relay->start();
    }
    relay->brivox.signal(SIGUSR1);
    EXPECT_TRUE(relay->brivox.waitForStderr("Status: up "));
    const auto signalled = std::chrono::steady_clock::now();
    relay->brivox.signal(SIGTERM);
    const std::string quit = alice().waitFor(" QUIT ");
    EXPECT_EQ(quit.rfind(":brivox!", 0), 0u) << quit;
    EXPECT_NE(quit.find("brivox stopped by SIGTERM"), std::string::npos) << quit;
    EXPECT_EQ(hub().readCommand(), "$Quit brivox");
    EXPECT_EQ(relay->brivox.waitExit(std::chrono::seconds(3)), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(3));
    EXPECT_NE(relay->brivox.stderrText().find("Stopped by SIGTERM; quit IRC, quit the hub"), std::string::npos)
        << relay->brivox.stderrText();
}

// A hub that accepts and never speaks holds up only its own log-in: IRC
// gets into the channel meanwhile and its PINGs are answered at once. A stop
// ends the log-in at once, and IRC still gets its QUIT, also from a daemon
// started with the stop signals blocked.
TEST(RelayStall, SigintDuringAStalledHubLogInStopsAtOnceAndIrcIsServedMeanwhile) {
    ScriptedIrcServer irc;
    ScriptedHub hub;
    TempDir dir;
    const std::string config = dir.write(
        "brivox.conf", "irc_port = " + std::to_string(irc.port()) + "\ndc_port = " + std::to_string(hub.port()) + "\n");
    ProcessRunner brivox;
    {
        const StopSignalsBlocked blocked;
        brivox.start(brivoxBinary(), {"-d", "-c", config});
    }
    irc.accept();
    hub.accept();
    irc.welcome("brivox");
    const auto pinged = std::chrono::steady_clock::now();
    irc.sendLine("PING :irc.scripted");
    EXPECT_EQ(irc.readLine(), "PONG :irc.scripted");
    const auto pongDelay = std::chrono::steady_clock::now() - pinged;
    std::printf("PONG %.1f ms after the PING, the hub's log-in stalled\n",
                std::chrono::duration<double, std::milli>(pongDelay).count());
    EXPECT_LT(pongDelay, std::chrono::seconds(1));
    ASSERT_TRUE(brivox.waitForStderr(": OK\n"));
    const auto signalled = std::chrono::steady_clock::now();
    brivox.signal(SIGINT);
    EXPECT_EQ(brivox.waitExit(std::chrono::seconds(3)), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(3));
    EXPECT_EQ(irc.readLine(), "QUIT :brivox stopped by SIGINT");
    EXPECT_NE(brivox.stderrText().find("Stopped by SIGINT; quit IRC, the hub was down"), std::string::npos)
        << brivox.stderrText();
}

// The same against ngircd, which PINGs a client after 5 s of silence and
// drops it 5 s later: the bot answers in the pass the PING arrives in and
// stays; the channel's chat for the hub meanwhile is dropped, counted once.
TEST(RelayStall, AStalledHubLogInKeepsTheBotOnIrc) {
    if (!NgircdRunner::available())
        GTEST_SKIP() << "ngircd is not installed";
    RelayPeers peers;
    peers.irc.pingTimeout = 5;
    RelayHarness relay(peers);
    relay.brivox.start(brivoxBinary(), {"-d", "-L", "43", "-c", relay.dir.write("brivox.conf", relay.configText(""))});
    relay.hub.accept();
    relay.waitForBotJoin();
    relay.alice->say("#chat", "nobody on the hub hears this");
    ASSERT_TRUE(relay.brivox.waitForStderr(" > PONG :irc.brivox.test\n", std::chrono::seconds(10)));
    const std::string log = relay.brivox.stderrText();
    const std::size_t afterPing = log.find('\n', log.find(" > PING :irc.brivox.test\n")) + 1;
    EXPECT_NE(log.substr(afterPing, log.find('\n', afterPing) - afterPing).find(" > PONG :irc.brivox.test"),
              std::string::npos)
        << log;
    relay.logInToHub();
    EXPECT_TRUE(relay.brivox.waitForStderr("DCClient: dropped 1 lines for the hub's main chat while not in it\n"));
    relay.alice->say("#chat", "heard now");
    EXPECT_EQ(relay.hub.readChat(), "<brivox> <alice> heard now");
    EXPECT_EQ(relay.brivox.stderrText().find("IRC connection closed"), std::string::npos);
}

// An IRC server that takes the connection and never answers the TLS
// handshake holds up only IRC: the hub's log-in and chat go on meanwhile.
TEST(RelayStall, AStalledTlsHandshakeLeavesTheHubServed) {
    if (!TlsSession::available())
        GTEST_SKIP() << "built without TLS";
    LoopbackListener irc;
    ScriptedHub hub;
    TempDir dir;
    const std::string config =
        dir.write("brivox.conf", "irc_port = " + std::to_string(irc.port()) + "\nirc_tls = yes\ndc_port = " +
                                     std::to_string(hub.port()) + "\n");
    ProcessRunner brivox;
    brivox.start(brivoxBinary(), {"-d", "-c", config});
    const std::unique_ptr<PeerSocket> silent = irc.accept();
    ASSERT_TRUE(silent);
    hub.accept();
    const auto started = std::chrono::steady_clock::now();
    HubLoginScript script;
    script.usersPresent = {"carol"};
    hub.login(script);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    hub.userSays("carol", "for nobody on IRC yet");
    // The answer to a private word says the line before it was read.
    hub.send("$To: brivox From: carol $<carol> are you there?");
    EXPECT_EQ(hub.readCommand().rfind("$To: carol From: brivox ", 0), 0u);
    brivox.signal(SIGTERM);
    EXPECT_EQ(hub.readCommand(), "$Quit brivox");
    EXPECT_EQ(brivox.waitExit(std::chrono::seconds(3)), 0);
    const std::string log = brivox.stderrText();
    EXPECT_NE(log.find("IRCClient: the link to the server is gone; dropped 1 lines that were waiting for it"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Stopped by SIGTERM; IRC was down, quit the hub"), std::string::npos) << log;
}

// Spoken to privately on either side, the bot says what it is and who is
// on the other side, once in ten seconds per asker; a CTCP VERSION gets its
// version. SIGUSR1 logs the status with what crossed.
TEST_F(RelayTest, PrivateMessagesAreAnsweredAndTheStatusCountsWhatCrossed) {
    relay->start();
    hub().send("$NickList carol$$dave$$brivox$$");
    alice().say("brivox", "who is there?");
    EXPECT_NE(alice().waitFor("NOTICE alice :I am brivox").find("relays public chat between #chat on 127.0.0.1 and "
                                                                 "the hub Scripted hub."),
              std::string::npos);
    alice().waitFor("NOTICE alice :On the hub now (2): carol, dave");
    alice().waitFor("NOTICE alice :Say something in #chat and I say it on the hub.");

    // A few answers at once in all, but one per asker in 10 s.
    hub().send("$To: brivox From: carol $<carol> and who is there?");
    const std::string answer = hub().readCommand();
    EXPECT_EQ(answer.substr(0, answer.find('\n')), "$To: carol From: brivox $<brivox> I am brivox " BRIVOX_VERSION
                                                    ", a bot that relays public chat between #chat on 127.0.0.1 "
                                                    "and the hub Scripted hub.");
    EXPECT_NE(answer.find("\nIn #chat now (1): alice\nSay something in the main chat and I say it in #chat."),
              std::string::npos)
        << answer;

    alice().say("brivox", "again?");
    hub().send("$To: brivox From: carol $<carol> again?");
    IrcUser bob(relay->ircServer.port(), "bob");
    // Other CTCP requests get nothing; VERSION its version.
    bob.say("brivox", "\x01PING 1234\x01");
    bob.say("brivox", "\x01TIME\x01");
    bob.say("brivox", "\x01VERSION\x01");
    const std::string version = bob.waitFor("NOTICE bob");
    EXPECT_NE(version.find(":\x01VERSION brivox " BRIVOX_VERSION "\x01"), std::string::npos) << version;
    alice().say("#chat", "to the hub");
    EXPECT_EQ(hub().readCommand(), "<brivox> <alice> to the hub");
    EXPECT_EQ(hub().readFor(std::chrono::milliseconds(300)).find("$To:"), std::string::npos);
    EXPECT_EQ(alice().linesFor(std::chrono::milliseconds(10)).find("NOTICE"), std::string::npos);

    hub().userSays("carol", "to the channel");
    alice().waitFor("PRIVMSG #chat :<carol> to the channel");
    relay->brivox.signal(SIGUSR1);
    ASSERT_TRUE(relay->brivox.waitForStderr("Status: up "));
    const std::string log = relay->brivox.stderrText();
    const std::string status = log.substr(log.find("Status: up "));
    EXPECT_NE(status.find("IRC in #chat for "), std::string::npos) << status;
    EXPECT_NE(status.find("DC++ in the hub's main chat for "), std::string::npos) << status;
    EXPECT_NE(status.find(", 1 log-in, 0 losses; relayed 1 line to the hub, 1 to IRC; dropped for IRC: 0 too old, "),
              std::string::npos)
        << status;
}

// With relay_presence, a hub user who comes reaches the channel and a
// channel user who leaves reaches the hub; 30 hub users leaving at once are
// one line.
TEST_F(RelayTest, ComingsAndGoingsAreToldOnTheOtherSideABurstInOneLine) {
    relay->start("relay_presence = yes\n");
    std::string everyone;
    for (int i = 0; i < 30; ++i)
        everyone += "user" + std::to_string(i) + "$$";
    hub().send("$NickList " + everyone);
    // One who comes and goes within the gathering is not told.
    {
        IrcUser bob(relay->ircServer.port(), "bob");
        bob.join("#chat");
        bob.sendLine("PART #chat :bye");
        bob.waitFor(" PART ");
    }
    IrcUser carol(relay->ircServer.port(), "carol");
    carol.join("#chat");
    EXPECT_EQ(hub().readChat(), "<brivox> * carol joined #chat");
    std::string burst = "$Hello erin";
    for (int i = 0; i < 30; ++i)
        burst += "|$Quit user" + std::to_string(i);
    hub().send(burst);
    EXPECT_EQ(channelText(alice().waitFor("PRIVMSG #chat")), "* 1 user joined the hub");
    EXPECT_EQ(channelText(alice().waitFor("PRIVMSG #chat")), "* 30 users left the hub");
    EXPECT_EQ(alice().linesFor(std::chrono::milliseconds(300)).find("PRIVMSG"), std::string::npos);
    EXPECT_EQ(hub().readFor(std::chrono::milliseconds(300)).find("bob"), std::string::npos);
}

TEST_F(RelayTest, SighupEndsADaemonInTheForeground) {
    relay->start();
    relay->brivox.signal(SIGHUP);
    EXPECT_EQ(relay->brivox.waitExit(std::chrono::seconds(10)), 128 + SIGHUP);
}

TEST_F(RelayTest, InTheBackgroundItWritesPidfileAndLogAndRotatesOnSighup) {
    const std::string log = relay->dir.file("brivox.log");
    const std::string pidfile = relay->dir.file("brivox.pid");
    const std::string config = relay->dir.write(
        "brivox.conf",
        relay->configText("logfile = " + log + "\npidfile = " + pidfile + "\nreconnect_delay_min = 1\n"));
    ProcessRunner parent;
    ASSERT_EQ(runBrivoxToEnd(parent, {"-c", config}), 0);
    hub().accept();
    hub().login();
    DaemonGuard daemon;
    ASSERT_TRUE(eventually([&] { return !readFile(pidfile).empty(); }));
    daemon.pid = std::stoi(readFile(pidfile));
    EXPECT_EQ(readFile(pidfile), std::to_string(daemon.pid) + "\n");
    EXPECT_NE(daemon.pid, parent.pid());
    relay->waitForBotJoin();
    EXPECT_TRUE(eventually([&] { return readFile(log).find("Connecting to DC++... \n") != std::string::npos; }));

    std::rename(log.c_str(), (log + ".0").c_str());
    kill(daemon.pid, SIGHUP);
    hub().dropClient();
    hub().accept(std::chrono::seconds(20));
    hub().login();
    EXPECT_TRUE(eventually([&] { return readFile(log).find("DC++ connection closed") != std::string::npos; }));
    EXPECT_EQ(readFile(log + ".0").find("DC++ connection closed"), std::string::npos);
    EXPECT_TRUE(processAlive(daemon.pid));
    ASSERT_TRUE(eventually([&] { return readFile(log).find("Logged in to the hub as") != std::string::npos; }));
    alice().say("#chat", "still relaying");
    EXPECT_EQ(hub().readChat(), "<brivox> <alice> still relaying");
}

TEST_F(RelayTest, HubBurstReachesAThrottlingServerWholeWithoutTheBotBeingDropped) {
    // ngircd with its default penalties handles about three commands a second
    // from one client; the bot's pacing keeps what it writes in step.
    relay->start("irc_burst_lines = 5\nirc_line_interval = 250\n");
    const auto start = std::chrono::steady_clock::now();
    std::string burst;
    for (int i = 0; i < 60; ++i)
        burst += "<carol> burst line " + std::to_string(i) + "|";
    hub().userComes("carol");
    hub().send(burst.substr(0, burst.size() - 1));
    for (int i = 0; i < 60; ++i)
        ASSERT_EQ(channelText(alice().waitFor("PRIVMSG #chat", std::chrono::seconds(30))),
                  "<carol> burst line " + std::to_string(i));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("60 lines drained in %.1f s\n", seconds);
    EXPECT_EQ(relay->brivox.stderrText().find("connection closed"), std::string::npos);
    EXPECT_TRUE(relay->brivox.running());
}

namespace {

// AddressSanitizer keeps freed memory aside for a while (its quarantine),
// so the daemon's memory is not measured under it.
#if defined(__SANITIZE_ADDRESS__)
#define BRIVOX_MEMORY_NOT_MEASURED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BRIVOX_MEMORY_NOT_MEASURED 1
#endif
#endif

// The peak resident memory of a process in KiB, or -1 where the system
// does not tell it this way (or the sanitizers distort it).
long peakResidentKiB(pid_t pid) {
#ifdef BRIVOX_MEMORY_NOT_MEASURED
    (void)pid;
#else
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 7, "VmHWM:\t") == 0)
            return std::stol(line.substr(7));
#endif
    return -1;
}

// A peer's receive buffer this small makes a sender wait soon, and still
// lets it go on at loopback speed once the peer reads (a smaller one meets
// delayed acknowledgements at every segment).
constexpr int kSmallWindow = 64 * 1024;

// Sends chunk again and again without waiting for the socket until the
// time is up; a peer that takes nothing holds it back.
void pourFor(PeerSocket& socket, const std::string& chunk, std::chrono::milliseconds time) {
    for (const auto end = std::chrono::steady_clock::now() + time; std::chrono::steady_clock::now() < end;)
        if (::send(socket.descriptor(), chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Processor time of the children this process has waited for, in seconds.
double childrenCpuSeconds() {
    rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

// The real binary between the scripted IRC server and the scripted hub, for
// what ngircd cannot be made to do on cue.
class ScriptedPeersTest : public ::testing::Test {
protected:
    void start(const std::string& extraConfig = "") {
        const std::string config = dir.write(
            "brivox.conf", "irc_port = " + std::to_string(irc.port()) + "\ndc_port = " +
                               std::to_string(hub.port()) + "\n" + extraConfig);
        brivox.start(brivoxBinary(), {"-d", "-c", config});
        irc.accept();
        irc.greet("brivox");
        hub.accept();
        logInToScriptedHub(hub, brivox);
        irc.confirmJoin("brivox");
    }

    ScriptedIrcServer irc;
    ScriptedHub hub;
    TempDir dir;
    ProcessRunner brivox;
};

TEST_F(ScriptedPeersTest, QueueDrainsOnTimeAndTheDaemonSleepsBetweenLines) {
    const double cpuBefore = childrenCpuSeconds();
    start("irc_burst_lines = 1\nirc_line_interval = 200\n");
    std::string burst;
    for (int i = 0; i < 15; ++i)
        burst += "<carol> paced " + std::to_string(i) + "|";
    hub.userComes("carol");
    hub.send(burst.substr(0, burst.size() - 1));

    std::vector<std::chrono::steady_clock::time_point> arrivals;
    for (int i = 0; i < 15; ++i) {
        ASSERT_EQ(irc.readLine(std::chrono::seconds(2)), "PRIVMSG #chat :<carol> paced " + std::to_string(i));
        arrivals.push_back(std::chrono::steady_clock::now());
    }
    for (std::size_t i = 1; i < arrivals.size(); ++i)
        EXPECT_GE(arrivals[i] - arrivals[i - 1], std::chrono::milliseconds(150)) << i;
    EXPECT_LT(arrivals.back() - arrivals.front(), std::chrono::milliseconds(14 * 200 + 1500));

    // A PING is answered at once, whatever chat is still waiting.
    hub.send(burst.substr(0, burst.size() - 1));
    irc.readLine();
    const auto pinged = std::chrono::steady_clock::now();
    irc.sendLine("PING :now");
    while (irc.readLine() != "PONG :now") {
    }
    EXPECT_LT(std::chrono::steady_clock::now() - pinged, std::chrono::milliseconds(100));

    brivox.stop();
    const double cpu = childrenCpuSeconds() - cpuBefore;
    std::printf("brivox used %.3f s of processor time over the whole run\n", cpu);
    EXPECT_LT(cpu, 1.0);
}

// A hub refuses every nick, closing the link each time: the attempt ends
// after the last retry with a small log, and the IRC side is served
// meanwhile.
TEST_F(ScriptedPeersTest, HubRefusingEveryNickCostsOneBoundedAttemptAndIrcIsStillAnswered) {
    start("reconnect_delay_min = 1\n");
    hub.dropClient();
    hub.accept(std::chrono::seconds(20));
    const std::size_t logBefore = brivox.stderrText().size();
    int asked = 0;
    for (;; ++asked) {
        if (asked > 0)
            hub.accept(std::chrono::seconds(1));
        hub.sendLock("refusinghub");
        hub.expectKey();
        const std::string nick = hub.expectValidateNick();
        if (asked == 2)
            irc.sendLine("PING :are you there?");
        hub.send("<Hub-Security> The nick " + nick + " is taken|$ValidateDenide " + nick);
        if (asked == DCClient::kMaxNickRetries)
            break;
    }
    EXPECT_TRUE(hub.clientClosed());
    const auto pinged = std::chrono::steady_clock::now();
    std::string line;
    while ((line = irc.readLine(std::chrono::seconds(60))) != "PONG :are you there?") {
    }
    EXPECT_LT(std::chrono::steady_clock::now() - pinged, std::chrono::seconds(5));
    const std::size_t logSize = brivox.stderrText().size() - logBefore;
    std::printf("log written for the refused attempt: %zu bytes\n", logSize);
    EXPECT_LT(logSize, 3000u);
    EXPECT_TRUE(brivox.running());
}

// A first log-in the server refuses ends the start-up like a refused hub,
// with the server's own words.
TEST(RelayRefused, WrongServerPasswordAtStartEndsWithStatusTwoAndTheServersText) {
    if (!NgircdRunner::available())
        GTEST_SKIP() << "ngircd is not installed";
    NgircdRunner server(true, "secret");
    ScriptedHub hub;
    TempDir dir;
    const std::string config = dir.write(
        "brivox.conf", "irc_port = " + std::to_string(server.port()) + "\ndc_port = " + std::to_string(hub.port()) +
                           "\nirc_password = wrong\n");
    ProcessRunner brivox;
    brivox.start(brivoxBinary(), {"-d", "-c", config});
    hub.accept();
    EXPECT_EQ(brivox.waitExit(), 2);
    const std::string log = brivox.stderrText();
    EXPECT_NE(log.find("IRCClient: log-in given up: the server closed the link; it said last: "
                       "\"ERROR :Access denied: Bad password?\"\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(": ERROR\n"), std::string::npos);
}

// The pieces of a long hub message are paced by what each costs on the wire,
// and a short line after them waits for nothing else.
TEST_F(ScriptedPeersTest, AShortLineAfterALongOneWaitsOnlyForThePacingOfItsPieces) {
    start("irc_burst_lines = 1\nirc_line_interval = 100\n");
    std::string text;
    for (int i = 0; text.size() < 4500; ++i)
        text += (i ? " " : "") + std::string("word") + std::to_string(i);
    hub.userSays("carol", text);
    hub.userSays("carol", "short");
    const auto first = std::chrono::steady_clock::now();
    double units = 0;
    std::string line;
    while ((line = irc.readLine(std::chrono::seconds(10))) != "PRIVMSG #chat :<carol> short") {
        EXPECT_LE(line.size(), 510u - std::string(":brivox!bot@scripted ").size());
        units += LinePacer::costOf(line, kMaxIrcLineBody);
    }
    const auto waited = std::chrono::steady_clock::now() - first;
    std::printf("%.0f units of pieces, short line after %.2f s\n", units,
                std::chrono::duration<double>(waited).count());
    EXPECT_LT(waited, std::chrono::milliseconds(static_cast<int>(units * 100) + 400));
}

// Each pass takes a bounded share from each side: a hub line is relayed at
// once while the IRC side pours in for seconds.
TEST_F(ScriptedPeersTest, AFloodFromOneSideDoesNotHoldUpTheOther) {
    start("irc_line_interval = 0\n");
    std::atomic<bool> flooding{true};
    std::thread drainHub([&] {
        while (flooding)
            hub.readFor(std::chrono::milliseconds(50));
    });
    std::thread floodIrc([&] {
        std::string chunk;
        for (int i = 0; i < 1000; ++i)
            chunk += ":alice!a@h PRIVMSG #chat :flooding the relay " + std::to_string(i) + "\r\n";
        for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
             std::chrono::steady_clock::now() < end;)
            irc.socket().send(chunk);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto said = std::chrono::steady_clock::now();
    hub.userSays("carol", "still heard");
    while (irc.readLine(std::chrono::seconds(10)) != "PRIVMSG #chat :<carol> still heard") {
    }
    const auto waited = std::chrono::steady_clock::now() - said;
    floodIrc.join();
    flooding = false;
    drainHub.join();
    std::printf("the hub line waited %.3f s behind the flood\n", std::chrono::duration<double>(waited).count());
    EXPECT_LT(waited, std::chrono::seconds(1));
    EXPECT_TRUE(brivox.running());
}

// A server that PINGs without pause is answered a share at a time. While
// it reads nothing, brivox stops reading it once the answers pile up (TCP
// then holds the server back), so memory stays bounded; while it reads, a
// hub line still reaches the channel at once.
TEST_F(ScriptedPeersTest, APingFloodGrowsNoMemoryAndTheHubIsStillHeard) {
    start("irc_line_interval = 0\n");
    const long before = peakResidentKiB(brivox.pid());
    irc.socket().setReceiveBuffer(kSmallWindow);
    std::string pings;
    for (int i = 0; i < 200; ++i)
        pings += "PING :" + std::string(400, 'p') + "\r\n";
    pourFor(irc.socket(), pings, std::chrono::seconds(1));
    const long unread = peakResidentKiB(brivox.pid());
    std::atomic<bool> heard{false};
    std::atomic<bool> reading{true};
    std::thread reader([&] {
        const std::string marker = "PRIVMSG #chat :<carol> still heard\r\n";
        std::string window;
        char chunk[65536];
        while (reading && !heard) {
            const ssize_t got = ::recv(irc.socket().descriptor(), chunk, sizeof chunk, MSG_DONTWAIT);
            if (got <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            window.append(chunk, static_cast<std::size_t>(got));
            heard = window.find(marker) != std::string::npos;
            window.erase(0, window.size() > marker.size() ? window.size() - marker.size() : 0);
        }
    });
    std::thread flood([&] { pourFor(irc.socket(), pings, std::chrono::milliseconds(1500)); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto said = std::chrono::steady_clock::now();
    hub.userSays("carol", "still heard");
    EXPECT_TRUE(eventually([&] { return heard.load(); }, std::chrono::seconds(1)));
    const auto waited = std::chrono::steady_clock::now() - said;
    flood.join();
    reading = false;
    reader.join();
    const long after = peakResidentKiB(brivox.pid());
    std::printf("peak resident memory: %ld KiB at the start, %ld KiB after 1 s of PINGs unread, %ld KiB after 1.5 "
                "s more read; the hub line took %.0f ms\n",
                before, unread, after, std::chrono::duration<double, std::milli>(waited).count());
    if (before > 0) {
        EXPECT_LT(after - before, 16 * 1024);
    }
    EXPECT_EQ(brivox.stderrText().find("over the limit"), std::string::npos);
    EXPECT_TRUE(brivox.running());
}

// What a peer can make brivox log again and again is written a few times a
// minute: ten thousand of each cost the log no more than a few lines.
TEST_F(ScriptedPeersTest, APeerThatRepeatsWhatIsLoggedCannotFillTheLog) {
    start("reconnect_delay_min = 1\n");
    const std::size_t logBefore = brivox.stderrText().size();
    std::string ircLines;
    std::string hubCommands;
    for (int i = 0; i < 10000; ++i) {
        ircLines += "ERROR :Closing Link: flood " + std::to_string(i) + "\r\n:op!o@h KICK #chat brivox :again\r\n";
        hubCommands += "$ForceMove elsewhere.example:" + std::to_string(i) + "|$HubIsFull|";
    }
    for (int i = 0; i < 200; ++i)
        ircLines += ":a PRIVMSG #chat :" + std::string(9000, 'x') + "\r\n";
    std::thread hubSide([&] { hub.socket().send(hubCommands); });
    irc.socket().send(ircLines);
    hubSide.join();
    // Kicked, the bot comes back: it is still at work.
    EXPECT_EQ(irc.readLine(), "JOIN #chat");
    const std::size_t logBytes = brivox.stderrText().size() - logBefore;
    std::printf("log written for 10,000 ERRORs, KICKs, $ForceMoves and $HubIsFulls and 200 over-long lines: %zu "
                "bytes\n",
                logBytes);
    EXPECT_LT(logBytes, 64u * 1024);
    EXPECT_TRUE(brivox.running());
}

// While the server reads nothing, the hub's flood waits in TCP, not in
// brivox: the link to the server is not dropped, and every line arrives in
// order once the server reads again. A stop while it reads nothing gives the
// hub its $Quit all the same, and the log says IRC took no QUIT.
TEST_F(ScriptedPeersTest, ASlowServerHoldsTheHubBackAndAStopStillReachesTheHub) {
    start("irc_line_interval = 0\n");
    const long before = peakResidentKiB(brivox.pid());
    irc.socket().setReceiveBuffer(kSmallWindow);
    std::string burst;
    constexpr int kLines = 160000;
    for (int i = 0; i < kLines; ++i)
        burst += "<carol> held back line " + std::to_string(i) + "|";
    hub.userComes("carol");
    std::thread flood([&] { hub.socket().send(burst); });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long held = peakResidentKiB(brivox.pid());
    for (int i = 0; i < kLines; ++i)
        ASSERT_EQ(irc.readLine(), "PRIVMSG #chat :<carol> held back line " + std::to_string(i));
    flood.join();
    std::printf("%d hub lines (%zu bytes) held back by a server that read nothing: peak resident memory %ld KiB, "
                "%ld KiB before\n",
                kLines, burst.size(), held, before);
    if (before > 0) {
        EXPECT_LT(held - before, 8 * 1024);
    }
    EXPECT_EQ(brivox.stderrText().find("over the limit"), std::string::npos);

    pourFor(hub.socket(), "<carol> more|", std::chrono::seconds(1));
    brivox.signal(SIGTERM);
    EXPECT_EQ(hub.readCommand(), "$Quit brivox");
    EXPECT_EQ(brivox.waitExit(std::chrono::seconds(3)), 0);
    EXPECT_NE(brivox.stderrText().find("Stopped by SIGTERM; IRC took no QUIT, quit the hub"), std::string::npos)
        << brivox.stderrText().substr(brivox.stderrText().size() - 500);
}

namespace {

// One line each way between alice and the hub, as every bridge must carry it.
void expectChatBothWays(RelayHarness& relay, const std::string& text) {
    relay.alice->say("#chat", text);
    EXPECT_EQ(relay.hub.readChat(), "<brivox> <alice> " + text);
    relay.hub.userSays("carol", text);
    const std::string line = relay.alice->waitFor("PRIVMSG #chat");
    EXPECT_EQ(line.substr(line.find(" :") + 2), "<carol> " + text);
}

}  // namespace

// TLS to ngircd's TLS port and to a hub behind TLS, both certificates checked
// against the trust store, which here holds the test's own authority.
TEST(RelayNetworks, TlsToBothPeersWithTheirCertificatesChecked) {
    if (!NgircdRunner::available() || !TlsSession::available() || !TestCertificates::available() ||
        !TlsFront::available())
        GTEST_SKIP() << "needs ngircd, a TLS build, openssl and socat";
    TestCertificates certificates;
    RelayPeers peers;
    peers.irc.tls = &certificates;
    RelayHarness relay(peers);
    TlsFront hubFront(relay.hub.port(), certificates);
    setenv("SSL_CERT_FILE", certificates.authority().c_str(), 1);
    relay.start("irc_tls = yes\nirc_port = " + std::to_string(relay.ircServer.tlsPort()) +
                "\ndc_tls = yes\ndc_server = localhost\ndc_port = " + std::to_string(hubFront.port()) + "\n");
    unsetenv("SSL_CERT_FILE");
    expectChatBothWays(relay, "sealed | $ caf\xc3\xa9");
    EXPECT_TRUE(relay.brivox.waitForStderr("TLS with 127.0.0.1: TLSv1."));
    EXPECT_TRUE(relay.brivox.waitForStderr("TLS with localhost: TLSv1."));
    EXPECT_EQ(relay.brivox.stderrText().find("not verified"), std::string::npos);
}

// ngircd and the hub on ::1 only as far as brivox knows, and a channel with
// a key, which the bot gives with its JOIN.
TEST(RelayNetworks, Ipv6ToBothPeersAndIntoAKeyedChannel) {
    if (!NgircdRunner::available() || !ipv6LoopbackAvailable())
        GTEST_SKIP() << "needs ngircd and an IPv6 loopback";
    RelayPeers peers;
    peers.irc.ipv6 = true;
    peers.hubOnIpv6 = true;
    RelayHarness relay(peers);
    relay.alice->sendLine("MODE #chat +k sesame");
    relay.alice->waitFor("MODE #chat +k");
    relay.start("irc_server = ::1\ndc_server = ::1\nirc_channel_key = sesame\nreconnect_delay_min = 1\n");
    expectChatBothWays(relay, "over IPv6");
    EXPECT_NE(relay.ircServer.log().find("User \"brivox!~brivox@[0::1]\" registered"), std::string::npos)
        << relay.ircServer.log();
    // Kicked, then refused (475) while the key is another, the bot comes
    // back with its key once the channel has it again.
    relay.alice->sendLine("MODE #chat -k sesame");
    relay.alice->sendLine("MODE #chat +k other");
    relay.alice->sendLine("KICK #chat brivox :out");
    ASSERT_TRUE(relay.brivox.waitForStderr("Cannot join #chat: 475 "));
    relay.alice->sendLine("MODE #chat -k other");
    relay.alice->sendLine("MODE #chat +k sesame");
    relay.waitForBotJoin();
    expectChatBothWays(relay, "back with the key");
}
