#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>

#include "Eventually.h"
#include "RelayHarness.h"
#include "ScriptedIrcServer.h"

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

// Kills a daemon that went to the background once the test is over.
struct DaemonGuard {
    pid_t pid = 0;
    ~DaemonGuard() {
        if (pid > 0)
            kill(pid, SIGKILL);
    }
};

}  // namespace

TEST_F(RelayTest, ChannelMessagesReachTheHubByteForByte) {
    relay->start();
    const std::string texts[] = {"hello hub", "pipe | dollar $ percent %s %n", "colons: a:b :c",
                                 "\x01" "ACTION waves\x01"};
    for (const std::string& text : texts) {
        alice().say("#chat", text);
        EXPECT_EQ(hub().readChat(), "<brivox> <alice> " + text);
    }
}

TEST_F(RelayTest, HubChatReachesTheChannelByteForByte) {
    relay->start();
    const std::string texts[] = {"hello channel", "pipe | dollar $ percent %s", "colons: a:b :c",
                                 "\x01" "ACTION waves\x01"};
    for (const std::string& text : texts) {
        hub().userSays("carol", text);
        EXPECT_EQ(channelText(alice().waitFor("PRIVMSG #chat")), "<carol> " + text);
    }
}

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

TEST_F(RelayTest, SeveralLinesInOnePacketArriveInOrder) {
    relay->start();
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

TEST_F(RelayTest, HubGoingAwayIsReconnectedAndRelayingResumes) {
    relay->start();
    hub().dropClient();
    hub().accept(std::chrono::seconds(20));
    hub().login();
    alice().say("#chat", "after the hub came back");
    EXPECT_EQ(hub().readChat(), "<brivox> <alice> after the hub came back");
    hub().userSays("carol", "and back");
    EXPECT_EQ(channelText(alice().waitFor("PRIVMSG #chat")), "<carol> and back");
    EXPECT_TRUE(relay->brivox.waitForStderr("DC++ connection closed. Trying to reconnect..."));
}

TEST_F(RelayTest, HubThatRefusesTheNickOnReconnectionGetsLinesWithTheNewNick) {
    relay->start();
    hub().dropClient();
    hub().accept(std::chrono::seconds(20));
    HubLoginScript script;
    script.refusals = 1;
    script.refusalsNameTheNick = true;
    hub().login(script);
    ASSERT_EQ(hub().currentNick(), "brivox_");
    alice().say("#chat", "to the renamed bot");
    EXPECT_EQ(hub().readChat(), "<brivox_> <alice> to the renamed bot");
    hub().send("<brivox_> <alice> to the renamed bot");
    hub().userSays("carol", "after the echo");
    EXPECT_EQ(channelText(alice().waitFor("PRIVMSG #chat")), "<carol> after the echo");
}

TEST_F(RelayTest, IrcServerGoingAwayIsReconnectedAndRelayingResumes) {
    relay->start();
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
    EXPECT_TRUE(relay->brivox.waitForStderr("IRC connection closed. Trying to reconnect..."));
}

TEST_F(RelayTest, BothSidesGoingAwayAreBothReconnected) {
    relay->start();
    relay->alice.reset();
    relay->ircServer.stop();
    hub().dropClient();
    relay->ircServer.start();
    hub().accept(std::chrono::seconds(30));
    hub().login();
    IrcUser bob(relay->ircServer.port(), "bob");
    bob.join("#chat");
    RelayHarness::waitUntilInChannel(bob, "brivox");
    bob.say("#chat", "both back");
    EXPECT_EQ(hub().readChat(std::chrono::seconds(10)), "<brivox> <bob> both back");
}

TEST_F(RelayTest, HubRefusingTheFirstLoginEndsWithStatusTwoAndTheBotQuitsIrc) {
    relay->brivox.start(brivoxBinary(), {"-d", "-c", relay->dir.write("brivox.conf", relay->configText(""))});
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
    EXPECT_NE(alice().waitFor(" QUIT").find(":brivox!"), std::string::npos);
}

TEST_F(RelayTest, EmptyChannelIsRefusedBeforeAnyConnection) {
    ProcessRunner brivox;
    const std::string config = relay->dir.write("bad.conf", relay->configText("irc_channel =\n"));
    EXPECT_EQ(runBrivoxToEnd(brivox, {"-d", "-c", config}), 1);
    EXPECT_NE(brivox.stderrText().find("Incorrect config for IRC: "), std::string::npos);
    EXPECT_EQ(brivox.stderrText().find("Connecting"), std::string::npos);
    EXPECT_THROW(hub().accept(std::chrono::milliseconds(200)), std::runtime_error);
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
        "brivox.conf", relay->configText("logfile = " + log + "\npidfile = " + pidfile + "\n"));
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
    alice().say("#chat", "still relaying");
    EXPECT_EQ(hub().readChat(), "<brivox> <alice> still relaying");
}

TEST_F(RelayTest, HubBurstReachesAThrottlingServerWholeWithoutTheBotBeingDropped) {
    // ngircd with its default penalties handles about three commands a second
    // from one client; the bot's pacing keeps what it writes in step.
    relay->start("irc_burst_lines = 5\nirc_line_interval = 250\n");
    const auto start = std::chrono::steady_clock::now();
    std::string burst;
    for (int i = 0; i < 200; ++i)
        burst += "<carol> burst line " + std::to_string(i) + "|";
    hub().send(burst.substr(0, burst.size() - 1));
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(channelText(alice().waitFor("PRIVMSG #chat", std::chrono::seconds(30))),
                  "<carol> burst line " + std::to_string(i));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("200 lines drained in %.1f s\n", seconds);
    EXPECT_EQ(relay->brivox.stderrText().find("connection closed"), std::string::npos);
    EXPECT_TRUE(relay->brivox.running());
}

namespace {

// Processor time of the children this process has waited for, in seconds.
double childrenCpuSeconds() {
    rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

TEST(RelayPacing, QueueDrainsOnTimeAndTheDaemonSleepsBetweenLines) {
    ScriptedIrcServer irc;
    ScriptedHub hub;
    TempDir dir;
    const std::string config = dir.write(
        "brivox.conf", "irc_port = " + std::to_string(irc.port()) + "\ndc_port = " + std::to_string(hub.port()) +
                           "\nirc_burst_lines = 1\nirc_line_interval = 200\n");
    const double cpuBefore = childrenCpuSeconds();
    ProcessRunner brivox;
    brivox.start(brivoxBinary(), {"-d", "-c", config});
    irc.accept();
    irc.welcome("brivox");
    hub.accept();
    hub.login();
    std::string burst;
    for (int i = 0; i < 30; ++i)
        burst += "<carol> paced " + std::to_string(i) + "|";
    hub.send(burst.substr(0, burst.size() - 1));

    std::vector<std::chrono::steady_clock::time_point> arrivals;
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(irc.readLine(std::chrono::seconds(2)), "PRIVMSG #chat :<carol> paced " + std::to_string(i));
        arrivals.push_back(std::chrono::steady_clock::now());
    }
    for (std::size_t i = 1; i < arrivals.size(); ++i)
        EXPECT_GE(arrivals[i] - arrivals[i - 1], std::chrono::milliseconds(150)) << i;
    EXPECT_LT(arrivals.back() - arrivals.front(), std::chrono::milliseconds(29 * 200 + 1500));

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
