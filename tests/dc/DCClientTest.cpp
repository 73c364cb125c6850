#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "Eventually.h"
#include "LogCapture.h"
#include "ScriptedHub.h"
#include "dc/DCClient.h"
#include "frame/Log.h"

namespace {

class DCClientTest : public ::testing::Test {
protected:
    DCConfig settings() {
        DCConfig config;
        config.dc_port = hub.port();
        return config;
    }
    // Runs the hub's side in the background while Connect blocks here.
    template <typename Script>
    bool connectWith(const DCConfig& config, Script script) {
        EXPECT_TRUE(client.setConfig(config));
        return connectAgain(script);
    }
    // Connect with the settings the client already has.
    template <typename Script>
    bool connectAgain(Script script) {
        auto hubSide = std::async(std::launch::async, [&] {
            hub.accept();
            script();
        });
        const bool result = client.Connect();
        hubSide.get();
        return result;
    }
    bool loginWith(const HubLoginScript& script, HubUserInfo* info = nullptr,
                   const DCConfig* config = nullptr) {
        return connectWith(config ? *config : settings(), [&] {
            const HubUserInfo seen = hub.login(script);
            if (info)
                *info = seen;
        });
    }

    ScriptedHub hub;
    DCClient client;
};

}  // namespace

TEST_F(DCClientTest, LogsInAndAnnouncesItselfWithTheDefaults) {
    HubUserInfo info;
    ASSERT_TRUE(loginWith(HubLoginScript(), &info));
    EXPECT_TRUE(client.isConnected());
    EXPECT_EQ(info.nick, "brivox");
    EXPECT_EQ(info.description, "brivox gate bot");
    EXPECT_EQ(info.speed, "100");
    EXPECT_EQ(info.statusByte, 1);
    EXPECT_EQ(info.email, DCConfig().dc_email);
    EXPECT_EQ(info.shareSize, "1073741825");
}

TEST_F(DCClientTest, AnswersOnlyThePartOfTheLockBeforeTheSpaceAndIgnoresWhatCameWithIt) {
    HubLoginScript script;
    script.lock = std::string("Lock\x80\xff\x01with~high$bytes`", 24);
    script.extraWithLock = "$HubName x|<hubbot> welcome|$Hello ghost";
    ASSERT_TRUE(loginWith(script));
    EXPECT_EQ(client.getConfig().dc_nick, "brivox");
}

TEST_F(DCClientTest, TwoRefusalsInARowGiveTwoUnderscores) {
    LogCapture log;
    HubLoginScript script;
    script.refusals = 2;
    ASSERT_TRUE(loginWith(script));
    EXPECT_EQ(client.getConfig().dc_nick, "brivox__");
    EXPECT_EQ(hub.currentNick(), "brivox__");
    EXPECT_EQ(log.count("already taken"), 2);
    EXPECT_EQ(log.count("Nickname \"brivox_\" already taken"), 1);
    EXPECT_EQ(log.count("Trying \"brivox__\"..."), 1);
}

TEST_F(DCClientTest, RefusalNamingTheNickIsARefusalToo) {
    HubLoginScript script;
    script.refusals = 1;
    script.refusalsNameTheNick = true;
    ASSERT_TRUE(loginWith(script));
    EXPECT_EQ(client.getConfig().dc_nick, "brivox_");
}

TEST_F(DCClientTest, RefusalAfterWhichTheHubClosesFailsAndTheNextLoginUsesTheLongerNick) {
    EXPECT_FALSE(connectWith(settings(), [&] {
        hub.sendLock("abcdef");
        hub.expectKey();
        hub.expectValidateNick();
        hub.send("$ValidateDenide brivox");
        hub.dropClient();
    }));
    EXPECT_EQ(client.getConfig().dc_nick, "brivox_");
    EXPECT_FALSE(client.isConnected());
    EXPECT_TRUE(connectAgain([&] {
        hub.sendLock("abcdef");
        hub.expectKey();
        EXPECT_EQ(hub.expectValidateNick(), "brivox_");
        hub.send("$Hello brivox_");
        hub.readCommand();
        hub.readCommand();
    }));
}

TEST_F(DCClientTest, CommandsThatOnlyBeginWithARecognisedWordAreIgnored) {
    EXPECT_TRUE(connectWith(settings(), [&] {
        hub.sendLock("abcdef");
        hub.expectKey();
        hub.expectValidateNick();
        hub.send("$ValidateDenideX");
        hub.send("$GetPass please");
        hub.send("$BadPass no");
        hub.send("$Hello");
        hub.send("$Hello brivox");
        EXPECT_EQ(hub.readCommand(), "$Version 1,0096");
        hub.readCommand();
    }));
    EXPECT_EQ(client.getConfig().dc_nick, "brivox");
}

TEST_F(DCClientTest, AnswersThePasswordRequest) {
    DCConfig config = settings();
    config.dc_pass = "s3cret|x";
    HubLoginScript script;
    script.password = "s3cret&#124;x";
    ASSERT_TRUE(loginWith(script, nullptr, &config));
}

TEST_F(DCClientTest, PasswordRequestWithoutPasswordGetsAnEmptyAnswer) {
    EXPECT_TRUE(connectWith(settings(), [&] {
        hub.sendLock("abcdef");
        hub.expectKey();
        hub.expectValidateNick();
        hub.send("$GetPass");
        EXPECT_EQ(hub.readCommand(), "$MyPass ");
        hub.send("$Hello brivox");
        hub.readCommand();
        hub.readCommand();
    }));
}

TEST_F(DCClientTest, RefusedPasswordClosesTheLinkWithOneErrorLine) {
    LogCapture log;
    EXPECT_FALSE(connectWith(settings(), [&] {
        hub.sendLock("abcdef");
        hub.expectKey();
        hub.expectValidateNick();
        hub.send("$GetPass");
        hub.readCommand();
        hub.send("$BadPass");
        EXPECT_TRUE(hub.clientClosed());
    }));
    EXPECT_EQ(log.text().substr(21), "Hub said that our password is incorrect...\n");
    fd_set set;
    FD_ZERO(&set);
    EXPECT_EQ(client.addToFdSet(&set), -1);
}

TEST_F(DCClientTest, HelloWithAnotherNickIsAdoptedEverywhere) {
    HubLoginScript script;
    script.helloNick = "renamed";
    HubUserInfo info;
    ASSERT_TRUE(loginWith(script, &info));
    EXPECT_EQ(info.nick, "renamed");
    EXPECT_EQ(client.getConfig().dc_nick, "renamed");
    client.Disconnect();
    EXPECT_EQ(hub.readCommand(), "$Quit renamed");
}

TEST_F(DCClientTest, HubClosingAtEachStageFailsWithoutAMessage) {
    const int stages = 4;
    for (int stage = 0; stage < stages; ++stage) {
        LogCapture log;
        EXPECT_FALSE(connectWith(settings(), [&] {
            if (stage > 0)
                hub.sendLock("abcdef");
            if (stage > 1)
                hub.expectKey();
            if (stage > 2)
                hub.expectValidateNick();
            hub.dropClient();
        })) << stage;
        // A hub closing with our key unread resets the link, which only the
        // connection reports.
        EXPECT_FALSE(log.contains("DCClient")) << stage;
        EXPECT_FALSE(client.isConnected());
    }
}

TEST_F(DCClientTest, ShortLockIsRefusedWithAnErrorAndNoKey) {
    LogCapture log;
    EXPECT_FALSE(connectWith(settings(), [&] {
        hub.send("$Lock x Pk=short");
        EXPECT_TRUE(hub.clientClosed());
        EXPECT_EQ(hub.readFor(std::chrono::milliseconds(0)), "");
    }));
    EXPECT_TRUE(log.contains("DCClient::Connect(): the hub sent a lock shorter than two bytes (\"x\")"));
}

TEST_F(DCClientTest, StatusByteIsTheLowByteOfTheSpeedValue) {
    for (const int value : {0, 257}) {
        DCConfig config = settings();
        config.dc_speed_val = value;
        config.dc_description = "with | pipe";
        HubUserInfo info;
        ASSERT_TRUE(loginWith(HubLoginScript(), &info, &config));
        EXPECT_EQ(info.statusByte, value & 0xFF);
        EXPECT_EQ(info.description, "with | pipe");
    }
}

TEST_F(DCClientTest, RelayTrafficFlowsBothWaysAfterLogin) {
    ASSERT_TRUE(loginWith(HubLoginScript()));
    hub.userSays("alice", "a|b $c");
    std::string command;
    ASSERT_TRUE(eventually([&] { return client.getMessage(command) && command[0] == '<'; }));
    EXPECT_EQ(command, "<alice> a|b $c");
    client.sendMessage("<brivox> <bob> x|y $z");
    EXPECT_EQ(hub.readChat(), "<brivox> <bob> x|y $z");
}

TEST_F(DCClientTest, HubGoingAwayDeliversTheLastCommandThenLogsOut) {
    ASSERT_TRUE(loginWith(HubLoginScript()));
    hub.userSays("alice", "last");
    hub.dropClient();
    std::string command;
    ASSERT_TRUE(eventually([&] { return client.getMessage(command); }));
    EXPECT_EQ(command, "<alice> last");
    ASSERT_TRUE(eventually([&] {
        client.getMessage(command);
        return !client.isConnected();
    }));
    command = "kept";
    EXPECT_FALSE(client.getMessage(command));
    EXPECT_FALSE(client.sendMessage("<brivox> dropped"));
    EXPECT_EQ(command, "kept");
}

TEST_F(DCClientTest, UnresolvableHubAndRefusedConnectAreReported) {
    LogCapture log;
    DCConfig config = settings();
    config.dc_server = kUnresolvableHost;
    ASSERT_TRUE(client.setConfig(config));
    EXPECT_FALSE(client.Connect());
    EXPECT_TRUE(log.contains("Can not resolve name \"no..such.host\"\n"));
    EXPECT_TRUE(log.contains("DClient::Connect(): gethostbyname(3) failed: "));
    hub.stopListening();
    ASSERT_TRUE(client.setConfig(settings()));
    EXPECT_FALSE(client.Connect());
    EXPECT_TRUE(log.contains("DCClient::Connect(): cann't connect to requested address\n"));
}

TEST_F(DCClientTest, SetConfigRefusesMissingSettingsAndBytesTheWireCannotCarry) {
    LogCapture log;
    ASSERT_TRUE(client.setConfig(settings()));
    for (auto spoil : {+[](DCConfig& c) { c.dc_nick = ""; }, +[](DCConfig& c) { c.dc_server = ""; },
                       +[](DCConfig& c) { c.dc_speed = ""; }, +[](DCConfig& c) { c.dc_port = 0; },
                       +[](DCConfig& c) { c.dc_port = 65536; }, +[](DCConfig& c) { c.dc_nick = "a b"; },
                       +[](DCConfig& c) { c.dc_nick = "a$b"; }, +[](DCConfig& c) { c.dc_nick = "a|b"; },
                       +[](DCConfig& c) { c.dc_pass = std::string("p\0w", 3); },
                       +[](DCConfig& c) { c.dc_email = "a$b"; },
                       +[](DCConfig& c) { c.dc_description = std::string(1024 * 1024, 'd'); }}) {
        DCConfig bad = settings();
        bad.dc_description = "changed";
        spoil(bad);
        EXPECT_FALSE(client.setConfig(bad));
        EXPECT_EQ(client.getConfig().dc_description, "brivox gate bot");
    }
    EXPECT_TRUE(log.contains("DCClient::setConfig(): dc_description is 1048576 bytes long; at most 255 fit\n"));
    DCConfig optional = settings();
    optional.dc_pass = optional.dc_description = optional.dc_email = optional.dc_share_size = "";
    EXPECT_TRUE(client.setConfig(optional));
}

// Classic hubs refuse a taken nick and keep the link: the log-in ends after
// eight retries with one line, and the nick starts over for the next one.
TEST_F(DCClientTest, HubRefusingEveryNickIsGivenUpAfterEightRetries) {
    LogCapture log;
    std::vector<std::string> asked;
    EXPECT_FALSE(connectWith(settings(), [&] {
        hub.sendLock("abcdef");
        hub.expectKey();
        for (int i = 0; i <= DCClient::kMaxNickRetries; ++i) {
            asked.push_back(hub.expectValidateNick());
            hub.send("<Hub-Security> The nick " + asked.back() + " is taken");
            hub.send("$ValidateDenide " + asked.back());
        }
        EXPECT_TRUE(hub.clientClosed());
    }));
    ASSERT_EQ(asked.size(), 9u);
    EXPECT_EQ(asked.back(), "brivox________");
    EXPECT_EQ(log.count("already taken"), DCClient::kMaxNickRetries);
    EXPECT_EQ(log.count("DCClient::Connect(): the hub refused 9 nicks, the last \"brivox________\"; it said last: "
                        "\"<Hub-Security> The nick brivox________ is taken\""),
              1);
    EXPECT_LT(log.text().size(), 2048u);
    EXPECT_EQ(client.getConfig().dc_nick, "brivox");
}

TEST_F(DCClientTest, LogInIsBoundedAsAWholeHoweverChattyTheHub) {
    LogCapture log;
    Connection::setWaitLimit(std::chrono::milliseconds(500));
    const bool loggedIn = connectWith(settings(), [&] {
        hub.sendLock("abcdef");
        hub.expectKey();
        hub.expectValidateNick();
        // Chat every 50 ms, each line well within the wait limit, until the
        // client gives up and the sends fail.
        try {
            for (int i = 0; i < 40; ++i) {
                hub.userSays("bot", "still no hello " + std::to_string(i));
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        } catch (const std::runtime_error&) {
        }
    });
    Connection::setWaitLimit(Connection::kDefaultWaitLimit);
    EXPECT_FALSE(loggedIn);
    EXPECT_TRUE(log.contains("DCClient::Connect(): no log-in within 500 ms as \"brivox\" (0 nick retries); "
                             "the hub said last: \"<bot> still no hello "));
    EXPECT_EQ(log.count("DCClient"), 1);
}

TEST_F(DCClientTest, WhatTheHubSaysBeforeItEndsTheLinkIsLogged) {
    LogCapture log;
    EXPECT_FALSE(connectWith(settings(), [&] {
        hub.sendLock("abcdef");
        hub.expectKey();
        hub.expectValidateNick();
        hub.send("<Hub-Security> Your IP is banned\r\nfor a week");
        hub.send("$ForceMove other.hub.example:411");
        hub.dropClient();
    }));
    EXPECT_TRUE(log.contains("DCClient: the hub says \"$ForceMove other.hub.example:411\"\n"));
    EXPECT_TRUE(log.contains("DCClient::Connect(): the hub closed the link; it said last: "
                             "\"<Hub-Security> Your IP is banned\\r\\nfor a week\"\n"));

    ASSERT_TRUE(loginWith(HubLoginScript()));
    hub.send("$HubIsFull");
    hub.send("<Hub-Security> Maintenance, bye");
    hub.dropClient();
    std::string command;
    ASSERT_TRUE(eventually([&] {
        while (client.getMessage(command)) {
        }
        return !client.isConnected();
    }));
    EXPECT_TRUE(log.contains("DCClient: the hub says \"$HubIsFull\"\n"));
    EXPECT_TRUE(log.contains("DCClient: the hub closed the link after saying \"<Hub-Security> Maintenance, bye\"\n"));
}

// A nick the hub made longer during one session is not carried into the
// next: the ghost that held the configured nick is gone by then.
TEST_F(DCClientTest, LostSessionStartsTheNextLogInFromTheConfiguredNick) {
    HubLoginScript script;
    script.refusals = 1;
    ASSERT_TRUE(loginWith(script));
    ASSERT_EQ(client.getConfig().dc_nick, "brivox_");
    hub.dropClient();
    std::string command;
    ASSERT_TRUE(eventually([&] {
        client.getMessage(command);
        return !client.isConnected();
    }));
    EXPECT_TRUE(connectAgain([&] { hub.login(); }));
    EXPECT_EQ(hub.currentNick(), "brivox");
}

TEST_F(DCClientTest, QuitOnlyFromALoggedInClient) {
    {
        DCClient temporary;
        DCConfig config = settings();
        ASSERT_TRUE(temporary.setConfig(config));
        auto hubSide = std::async(std::launch::async, [&] {
            hub.accept();
            hub.login();
        });
        ASSERT_TRUE(temporary.Connect());
        hubSide.get();
    }
    EXPECT_EQ(hub.readCommand(), "$Quit brivox");
    EXPECT_TRUE(hub.clientClosed());
    DCClient never;
    EXPECT_FALSE(never.Disconnect());
}

TEST(DCNickRefusal, BareWordOrWordAndNick) {
    EXPECT_TRUE(isNickRefusal("$ValidateDenide"));
    EXPECT_TRUE(isNickRefusal("$ValidateDenide brivox"));
    EXPECT_FALSE(isNickRefusal("$ValidateDenideX"));
    EXPECT_FALSE(isNickRefusal("$validatedenide"));
}

// NMDC has no PING: the hub link gets TCP keepalive, and an empty command
// after a silence keeps NATs and firewalls open.
TEST_F(DCClientTest, ASilentHubLinkGetsKeepAlives) {
    Connection::setWaitLimit(std::chrono::milliseconds(200));
    ASSERT_TRUE(loginWith(HubLoginScript()));
    fd_set set;
    FD_ZERO(&set);
    const int fd = client.addToFdSet(&set);
    int keepAlive = 0;
    socklen_t size = sizeof keepAlive;
    ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &keepAlive, &size), 0);
    EXPECT_EQ(keepAlive, 1);
    const auto quiet = std::chrono::steady_clock::now();
    std::string received;
    const bool sent = eventually([&] {
        client.tick();
        received += hub.readFor(std::chrono::milliseconds(20));
        return received.find('|') != std::string::npos;
    }, std::chrono::seconds(5));
    Connection::setWaitLimit(Connection::kDefaultWaitLimit);
    EXPECT_TRUE(sent);
    EXPECT_EQ(received, "|");
    EXPECT_GE(std::chrono::steady_clock::now() - quiet, std::chrono::milliseconds(350));
}
