#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "ClientLoop.h"
#include "LogCapture.h"
#include "ScriptedHub.h"
#include "dc/DCClient.h"

namespace {

class DCClientTest : public ::testing::Test {
protected:
    DCConfig settings() {
        DCConfig config;
        config.dc_port = hub.port();
        config.dc_message_interval = 0;
        return config;
    }
    // Plays the hub's side on another thread while the client is driven here.
    template <typename Script>
    void play(Script script) {
        std::future<void> hubSide = std::async(std::launch::async, [&] {
            hub.accept();
            script();
        });
        loop.runWhile(hubSide);
    }
    HubUserInfo loginWith(const HubLoginScript& script = HubLoginScript()) {
        HubUserInfo info;
        play([&] { info = hub.login(script); });
        EXPECT_TRUE(loop.untilUp());
        return info;
    }

    ScriptedHub hub;
    DCClient client;
    ClientLoop loop{client};
};

struct Patience {
    explicit Patience(std::chrono::milliseconds patience) { ChatClient::setPatience(patience); }
    ~Patience() { ChatClient::setPatience(ChatClient::kDefaultPatience); }
};

}  // namespace

// The key answers only the part of the lock before the space; what the hub
// sends with its lock is no part of the log-in; the user information is
// the settings', the status byte their low byte, a '|' escaped.
TEST_F(DCClientTest, LogsInAndAnnouncesItselfWithItsSettings) {
    DCConfig config = settings();
    config.dc_speed_val = 257;
    config.dc_description = "with | pipe";
    client.setConfig(config);
    HubLoginScript script;
    script.lock = std::string("Lock\x80\xff\x01with~high$bytes`", 24);
    script.extraWithLock = "$HubName x|<hubbot> welcome|$Hello ghost";
    const HubUserInfo info = loginWith(script);
    EXPECT_EQ(info.nick, "brivox");
    EXPECT_EQ(info.description, "with | pipe");
    EXPECT_EQ(info.speed, "100");
    EXPECT_EQ(info.statusByte, 1);
    EXPECT_EQ(info.email, DCConfig().dc_email);
    EXPECT_EQ(info.shareSize, "1073741825");
    EXPECT_EQ(client.getConfig().dc_nick, "brivox");
}

// One "_" per refusal, with or without the refused nick after the word;
// hubs close the link after a refusal, and the next nick is asked for over
// a new one within the same attempt.
TEST_F(DCClientTest, EachNickRefusalAddsAnUnderscoreOverANewLink) {
    LogCapture log;
    client.setConfig(settings());
    HubLoginScript script;
    script.refusals = 3;
    script.refusalsNameTheNick = true;
    loginWith(script);
    EXPECT_EQ(client.getConfig().dc_nick, "brivox___");
    EXPECT_EQ(log.count("already taken"), 3);
    EXPECT_EQ(log.count("Nickname \"brivox_\" already taken"), 1);
    EXPECT_EQ(log.count("Trying \"brivox___\"..."), 1);
    EXPECT_EQ(log.count("log-in given up"), 0);
    EXPECT_TRUE(isNickRefusal("$ValidateDenide"));
    EXPECT_FALSE(isNickRefusal("$ValidateDenideX"));
    EXPECT_FALSE(isNickRefusal("$validatedenide"));
}

// A password is given when asked (an empty one when none is set); words
// that only begin like the log-in's commands are not them.
TEST_F(DCClientTest, AnswersThePasswordRequestAndIgnoresLookalikes) {
    DCConfig config = settings();
    config.dc_pass = "s3cret|x";
    client.setConfig(config);
    client.setReconnectDelays(std::chrono::seconds(1), std::chrono::seconds(1));
    HubLoginScript script;
    script.password = "s3cret&#124;x";
    loginWith(script);
    client.close();

    client.setConfig(settings());
    play([&] {
        hub.sendLock("abcdef");
        hub.expectKey();
        hub.expectValidateNick();
        hub.send("$ValidateDenideX");
        hub.send("$GetPass please");
        hub.send("$BadPass no");
        hub.send("$Hello");
        hub.send("$GetPass");
        EXPECT_EQ(hub.readCommand(), "$MyPass ");
        hub.send("$Hello brivox");
        hub.setNick("brivox");
        hub.welcome();
    });
    EXPECT_TRUE(loop.untilUp());
    EXPECT_EQ(client.getConfig().dc_nick, "brivox");
}

// Hubs greet every user who comes in; only the $Hello for the nick we
// asked for is ours. Another is ignored and logged once, however long or
// odd, and that user's chat stays that user's.
TEST_F(DCClientTest, AHelloForAnotherNickIsNotOurs) {
    LogCapture log;
    client.setConfig(settings());
    play([&] {
        hub.sendLock("abcdef");
        hub.expectKey();
        hub.expectValidateNick();
        hub.send("$Hello dcuser2");
        hub.send("$Hello " + std::string(5000, 'x') + "$");
        hub.send("$Hello brivox");
        hub.setNick("brivox");
        hub.welcome();
    });
    EXPECT_TRUE(loop.untilUp());
    EXPECT_EQ(log.count("DCClient: ignored \"$Hello dcuser2\" while logging in as \"brivox\""), 1);
    EXPECT_EQ(log.count("ignored"), 1);
    hub.userSays("dcuser2", "my own words");
    client.sendChat("<alice> hi");
    EXPECT_EQ(hub.readChat(), "<brivox> <alice> hi");
    EXPECT_TRUE(loop.runUntil([&] { return loop.chat == std::vector<std::string>{"dcuser2: my own words"}; }));
}

// A refused password, a short lock, a hub that closes the link at any step:
// each ends the attempt with one line, and the link is closed.
TEST_F(DCClientTest, EachFailedLogInEndsWithOneLineSayingWhy) {
    client.setConfig(settings());
    client.setReconnectDelays(std::chrono::seconds(1), std::chrono::seconds(1));
    const auto failsWith = [&](const std::string& line, auto script) {
        LogCapture log;
        play(script);
        EXPECT_TRUE(loop.untilDown()) << line;
        EXPECT_EQ(log.count("DCClient"), 1) << log.text();
        EXPECT_TRUE(log.contains(line)) << log.text();
    };
    failsWith("DCClient: log-in given up: Hub said that our password is incorrect...\n", [&] {
        hub.sendLock("abcdef");
        hub.expectKey();
        hub.expectValidateNick();
        hub.send("$GetPass");
        hub.readCommand();
        hub.send("$BadPass");
        EXPECT_TRUE(hub.clientClosed());
    });
    failsWith("DCClient: log-in given up: the hub sent a lock shorter than two bytes (\"x\")", [&] {
        hub.send("$Lock x Pk=short");
        EXPECT_TRUE(hub.clientClosed());
        EXPECT_EQ(hub.readFor(std::chrono::milliseconds(0)), "");
    });
    failsWith("DCClient: log-in given up: the hub sent a lock of 4096 bytes; no hub's is longer than 512", [&] {
        hub.send("$Lock " + std::string(4096, 'L') + " Pk=long");
        EXPECT_TRUE(hub.clientClosed());
        EXPECT_EQ(hub.readFor(std::chrono::milliseconds(0)), "");
    });
    for (int stage = 0; stage < 3; ++stage)
        failsWith("DCClient: log-in given up: the hub closed the link", [&] {
            if (stage > 0)
                hub.sendLock("abcdef");
            if (stage > 1)
                hub.expectKey();
            hub.dropClient();
        });
    failsWith("DCClient: log-in given up: the hub closed the link; it said last: "
              "\"<Hub-Security> Your IP is banned\\r\\nfor a week\"\n",
              [&] {
                  hub.sendLock("abcdef");
                  hub.expectKey();
                  hub.expectValidateNick();
                  hub.send("<Hub-Security> Your IP is banned\r\nfor a week");
                  hub.send("$Supports NoGetINFO");
                  hub.dropClient();
              });
    // Greeted, but never listed: the hub refused us after our $MyINFO.
    failsWith("DCClient: log-in given up: the hub closed the link instead of listing us; it said last: "
              "\"<Verlihub> No bots here\"\n",
              [&] {
                  hub.sendLock("abcdef");
                  hub.expectKey();
                  hub.setNick(hub.expectValidateNick());
                  hub.send("$Hello brivox");
                  hub.readCommand();
                  hub.readCommand();
                  parseMyInfo(hub.readCommand());
                  hub.send("<Verlihub> No bots here");
                  hub.dropClient();
              });
    EXPECT_FALSE(client.refusedForNow());
    // A refusal that passes: the next attempt waits for the time named.
    failsWith("DCClient: log-in refused for now: the hub said \"<PtokaX> Please wait 4 seconds before reconnect.\"; "
              "trying again in 4 s\n",
              [&] {
                  hub.sendLock("abcdef");
                  hub.expectKey();
                  hub.expectValidateNick();
                  hub.send("<PtokaX> Please wait 4 seconds before reconnect.");
                  hub.dropClient();
              });
    EXPECT_TRUE(client.refusedForNow());
}

// Chat of other users comes as speaker and text in UTF-8, an action as an
// action; our own echo and everything that is not a chat line stays here.
// The bot's chat goes out in the hub's set, escaped as DC clients do.
TEST_F(DCClientTest, MainChatIsReadAndWrittenInTheHubsSet) {
    DCConfig config = settings();
    config.dc_encoding = "CP1251";
    client.setConfig(config);
    loginWith();
    hub.userSays("alice", "a|b $c &#124; &");
    for (const char* command :
         {"$MyINFO $ALL carol x$ $1$$0$", "$To: brivox From: carol $<carol> private", "<brivox> <x> our echo",
          "<> empty nick", "<al ice> space", "<al|ice> pipe", "<al>ice> gt", "<alice>no space", "<alice>"})
        hub.send(command);
    hub.userComes("ivan");
    hub.userComes("brivoxy");
    hub.send("<ivan> \xcf\xf0\xe8\xe2\xe5\xf2");
    hub.send("<ivan> /me \xd0\x9f\xd1\x80\xd0\xb8");
    hub.send("<brivoxy> last");
    ASSERT_TRUE(loop.runUntil([&] { return !loop.chat.empty() && loop.chat.back() == "brivoxy: last"; }));
    EXPECT_EQ(loop.chat, (std::vector<std::string>{"alice: a|b $c &#124; &",
                                                    "ivan: \xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82",
                                                    "* ivan \xd0\x9f\xd1\x80\xd0\xb8", "brivoxy: last"}));
    client.sendChat("<anna> \xd0\x9f\xd1\x80\xd0\xb8 caf\xc3\xa9 | $");
    EXPECT_EQ(hub.readChat(), "<brivox> <anna> \xcf\xf0\xe8 caf? | $");
    client.sendChat("<a> one\n<b> two");
    EXPECT_EQ(hub.readChat(), "<brivox> <a> one\n<b> two");
    EXPECT_TRUE(client.sameNick("Hub-Security", "hub-security"));
}

// What the hub sent before the end of the stream is handed over; the loss
// is logged at once, with what the hub said last, once the side had been
// up; the next log-in starts from the configured nick.
TEST_F(DCClientTest, HubGoingAwayDeliversItsLastChatAndLogsTheLoss) {
    LogCapture log;
    client.setConfig(settings());
    client.setReconnectDelays(std::chrono::seconds(1), std::chrono::seconds(1));
    HubLoginScript refusing;
    refusing.refusals = 1;
    loginWith(refusing);
    ASSERT_EQ(client.getConfig().dc_nick, "brivox_");
    hub.send("$HubIsFull");
    hub.userSays("alice", "last");
    hub.dropClient();
    EXPECT_TRUE(loop.untilDown());
    EXPECT_EQ(loop.chat, std::vector<std::string>{"alice: last"});
    client.sendChat("<bob> dropped");
    EXPECT_TRUE(log.contains("DCClient: the hub says \"$HubIsFull\"\n"));
    EXPECT_TRUE(log.contains("DC++ connection closed. Trying to reconnect... in 1 s; the hub said last: "
                             "\"<alice> last\"\n"));
    loginWith();
    EXPECT_EQ(hub.currentNick(), "brivox");
    EXPECT_TRUE(log.contains("DCClient: dropped 1 lines for the hub's main chat while not in it\n"));
}

TEST_F(DCClientTest, UnresolvableHubAndRefusedConnectAreReported) {
    LogCapture log;
    DCConfig config = settings();
    config.dc_server = kUnresolvableHost;
    client.setConfig(config);
    client.tick();
    EXPECT_EQ(client.state(), LinkState::Down);
    EXPECT_TRUE(log.contains("Can not resolve name \"no..such.host\"\n"));
    EXPECT_TRUE(log.contains("DClient::Connect(): gethostbyname(3) failed: "));
    hub.stopListening();
    DCClient refused;
    ClientLoop refusedLoop(refused);
    refused.setConfig(settings());
    EXPECT_FALSE(refusedLoop.open());
    EXPECT_TRUE(log.contains("Connection::Connect(): connect(2) failed: Connection refused\n"));
    EXPECT_TRUE(log.contains("DCClient::Connect(): cann't connect to requested address\n"));
}

// Hubs refuse a taken nick and close the link: the log-in ends after eight
// retries with one line, and the nick starts over for the next one.
TEST_F(DCClientTest, HubRefusingEveryNickIsGivenUpAfterEightRetries) {
    LogCapture log;
    client.setConfig(settings());
    std::vector<std::string> asked;
    play([&] {
        for (int i = 0; i <= DCClient::kMaxNickRetries; ++i) {
            if (i > 0)
                hub.accept();
            hub.sendLock("abcdef");
            hub.expectKey();
            asked.push_back(hub.expectValidateNick());
            hub.send("<Hub-Security> The nick " + asked.back() + " is taken");
            hub.send("$ValidateDenide " + asked.back());
        }
        EXPECT_TRUE(hub.clientClosed());
    });
    ASSERT_EQ(asked.size(), 9u);
    EXPECT_EQ(asked.back(), "brivox________");
    EXPECT_EQ(log.count("already taken"), DCClient::kMaxNickRetries);
    EXPECT_EQ(log.count("DCClient: log-in given up: the hub refused 9 nicks, the last \"brivox________\"; it said "
                        "last: \"<Hub-Security> The nick brivox________ is taken\""),
              1);
    EXPECT_LT(log.text().size(), 2048u);
    EXPECT_EQ(client.getConfig().dc_nick, "brivox");
}

TEST_F(DCClientTest, LogInIsBoundedAsAWholeHoweverChattyTheHub) {
    LogCapture log;
    const Patience patience(std::chrono::milliseconds(500));
    client.setConfig(settings());
    play([&] {
        hub.sendLock("abcdef");
        hub.expectKey();
        hub.expectValidateNick();
        // Chat every 50 ms, each line well within the bound, until the
        // client gives up and the sends fail.
        try {
            for (int i = 0; i < 40; ++i) {
                hub.userSays("bot", "still no hello " + std::to_string(i));
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        } catch (const std::runtime_error&) {
        }
    });
    EXPECT_EQ(client.state(), LinkState::Down);
    EXPECT_TRUE(log.contains("DCClient: log-in given up: no log-in within 500 ms as \"brivox\" (0 nick retries); "
                             "it said last: \"<bot> still no hello "));
    EXPECT_EQ(log.count("DCClient"), 1);
}

// NMDC has no PING: the hub link gets TCP keepalive, and an empty command
// after a silence keeps NATs and firewalls open.
TEST_F(DCClientTest, ASilentHubLinkGetsKeepAlives) {
    const Patience patience(std::chrono::milliseconds(200));
    client.setConfig(settings());
    // Counted from before the log-in: its last message, whenever the loop
    // got to it, came later, so a slow machine cannot make this early.
    const auto quiet = std::chrono::steady_clock::now();
    loginWith();
    fd_set readable;
    fd_set writable;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    const int fd = client.addToFdSets(&readable, &writable, true);
    int keepAlive = 0;
    socklen_t size = sizeof keepAlive;
    ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &keepAlive, &size), 0);
    EXPECT_EQ(keepAlive, 1);
    std::string received;
    EXPECT_TRUE(loop.runUntil([&] {
        received += hub.readFor(std::chrono::milliseconds(10));
        return received.find('|') != std::string::npos;
    }));
    EXPECT_EQ(received, "|");
    EXPECT_GE(std::chrono::steady_clock::now() - quiet, std::chrono::milliseconds(400));
}
