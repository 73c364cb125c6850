#include <gtest/gtest.h>

#include "Eventually.h"
#include "LogCapture.h"
#include "ScriptedIrcServer.h"
#include "frame/Log.h"
#include "irc/IRCClient.h"

namespace {

class IRCClientTest : public ::testing::Test {
protected:
    IRCConfig settings() {
        IRCConfig config;
        config.irc_port = server.port();
        return config;
    }
    // Pacing so slow that only the first queued line goes within a test.
    IRCConfig oneLinePerMinute() {
        IRCConfig config = settings();
        config.irc_burst_lines = 1;
        config.irc_line_interval = 60000;
        return config;
    }
    void connect(const IRCConfig& config) {
        ASSERT_TRUE(client.setConfig(config));
        ASSERT_TRUE(client.Connect());
        server.accept();
    }
    // Pumps getMessage until a line holding part comes out of it.
    std::string pumpUntil(const std::string& part) {
        std::string line;
        const bool seen = eventually([&] {
            while (client.getMessage(line))
                if (line.find(part) != std::string::npos)
                    return true;
            return false;
        }, std::chrono::seconds(5));
        return seen ? line : "<nothing>";
    }

    ScriptedIrcServer server;
    IRCClient client;
};

}  // namespace

TEST_F(IRCClientTest, RegistersWithNickUserAndJoin) {
    connect(settings());
    EXPECT_EQ(server.readLine(), "NICK brivox");
    EXPECT_EQ(server.readLine(), "USER brivox 0 * :brivox gate bot");
    EXPECT_EQ(server.readLine(), "JOIN #chat");
    EXPECT_TRUE(client.isConnected());
}

TEST_F(IRCClientTest, SendsThePasswordFirstWhenThereIsOne) {
    IRCConfig config = settings();
    config.irc_password = "sesame";
    config.irc_realname = "";
    connect(config);
    EXPECT_EQ(server.readLine(), "PASS sesame");
    EXPECT_EQ(server.readLine(), "NICK brivox");
    EXPECT_EQ(server.readLine(), "USER brivox 0 * :");
}

TEST_F(IRCClientTest, SetConfigRefusesMissingSettingsAndBadPortsAndKeepsTheOld) {
    const IRCConfig good = settings();
    ASSERT_TRUE(client.setConfig(good));
    for (auto spoil : {+[](IRCConfig& c) { c.irc_nick = ""; }, +[](IRCConfig& c) { c.irc_server = ""; },
                       +[](IRCConfig& c) { c.irc_username = ""; }, +[](IRCConfig& c) { c.irc_channel = ""; },
                       +[](IRCConfig& c) { c.irc_port = 0; }, +[](IRCConfig& c) { c.irc_port = 76667; },
                       +[](IRCConfig& c) { c.irc_port = -1; }}) {
        IRCConfig bad = good;
        bad.irc_nick = "other";
        spoil(bad);
        EXPECT_FALSE(client.setConfig(bad));
        EXPECT_EQ(client.getConfig().irc_nick, "brivox");
    }
    IRCConfig optional = good;
    optional.irc_realname = "";
    optional.irc_password = "";
    optional.irc_port = 65535;
    EXPECT_TRUE(client.setConfig(optional));
}

TEST_F(IRCClientTest, UnresolvableServerLogsTwoLinesAndOpensNoSocket) {
    LogCapture log;
    IRCConfig config = settings();
    config.irc_server = kUnresolvableHost;
    ASSERT_TRUE(client.setConfig(config));
    EXPECT_FALSE(client.Connect());
    const std::string text = log.text();
    const std::size_t first = text.find("Can not resolve name \"no..such.host\"\n");
    const std::size_t second = text.find("IRCClient::Connect(): gethostbyname(3) failed: ");
    EXPECT_NE(first, std::string::npos);
    EXPECT_NE(second, std::string::npos);
    EXPECT_LT(first, second);
    fd_set set;
    FD_ZERO(&set);
    EXPECT_EQ(client.addToFdSet(&set), -1);
}

TEST_F(IRCClientTest, RefusedConnectIsReportedByBothLayers) {
    LogCapture log;
    server.stopListening();
    ASSERT_TRUE(client.setConfig(settings()));
    EXPECT_FALSE(client.Connect());
    EXPECT_TRUE(log.contains("Connection::Connect(): connect(2) failed: Connection refused\n"));
    EXPECT_TRUE(log.contains("IRCClient::Connect(): cann't connect to requested address\n"));
    EXPECT_FALSE(client.isConnected());
}

TEST_F(IRCClientTest, NickInUseBeforeTheWelcomeGetsOneMoreUnderscoreEachTime) {
    LogCapture log;
    connect(settings());
    EXPECT_EQ(server.readLine(), "NICK brivox");
    for (const std::string nick : {"brivox", "brivox_", "brivox__"}) {
        server.sendLine(":irc.scripted 433 * " + nick + " :Nickname already in use");
        // The answer may be seen in Connect or by getMessage: the same either way.
        std::string line;
        ASSERT_TRUE(eventually([&] {
            client.getMessage(line);
            return client.getConfig().irc_nick == nick + "_";
        }));
    }
    std::string sent;
    sent = server.readFor(std::chrono::milliseconds(200));
    EXPECT_NE(sent.find("NICK brivox_\r\n"), std::string::npos);
    EXPECT_NE(sent.find("NICK brivox__\r\n"), std::string::npos);
    EXPECT_NE(sent.find("NICK brivox___\r\n"), std::string::npos);
    EXPECT_EQ(client.getConfig().irc_nick, "brivox___");
    EXPECT_EQ(log.count("already in use"), 3);
    EXPECT_EQ(log.count("Nickname \"brivox\" already in use"), 1);
    EXPECT_EQ(log.count("Trying \"brivox___\""), 1);

    // The early JOIN was refused; it goes out again once the server welcomes us.
    server.sendLine(":irc.scripted 451 * :Connection not registered");
    server.sendLine(":irc.scripted 001 brivox___ :Welcome");
    pumpUntil(" 001 ");
    const std::string afterWelcome = server.readLine();
    EXPECT_EQ(afterWelcome.substr(0, 4) == "NICK" ? server.readLine() : afterWelcome, "JOIN #chat");
    // After the welcome a 433 is an ordinary line.
    server.sendLine(":irc.scripted 433 brivox___ other :Nickname already in use");
    pumpUntil(" 433 ");
    EXPECT_EQ(client.getConfig().irc_nick, "brivox___");
}

TEST_F(IRCClientTest, JoinIsNotRepeatedWhenRegistrationWentWell) {
    connect(settings());
    server.welcome("brivox");
    pumpUntil(" 001 ");
    EXPECT_EQ(server.readFor(std::chrono::milliseconds(200)), "");
}

TEST_F(IRCClientTest, PingsAreAnsweredByteForByteAndNeverHandedOver) {
    connect(settings());
    server.welcome("brivox");
    server.sendRaw("PING :irc.scripted\r\nPING token\r\nPING\r\nPINGX\r\n:irc.scripted PING :prefixed\r\n");
    EXPECT_EQ(pumpUntil("prefixed"), ":irc.scripted PING :prefixed");
    EXPECT_EQ(server.readLine(), "PONG :irc.scripted");
    EXPECT_EQ(server.readLine(), "PONG token");
    EXPECT_EQ(server.readLine(), "PONG ");
    EXPECT_EQ(server.readLine(), "PONG ");
    EXPECT_EQ(server.readFor(std::chrono::milliseconds(100)), "");
}

TEST_F(IRCClientTest, PingDuringRegistrationIsAnswered) {
    connect(settings());
    server.sendLine("PING :early");
    std::string line;
    eventually([&] {
        client.getMessage(line);
        return false;
    }, std::chrono::milliseconds(200));
    std::string sent = server.readFor(std::chrono::milliseconds(200));
    EXPECT_NE(sent.find("PONG :early\r\n"), std::string::npos);
}

TEST_F(IRCClientTest, ServerClosingTheLinkStillDeliversTheLastCompleteLine) {
    connect(settings());
    server.welcome("brivox");
    pumpUntil(" 001 ");
    server.sendRaw(":alice PRIVMSG #chat :bye\r\n:half");
    server.dropClient();
    std::string line;
    ASSERT_TRUE(eventually([&] { return client.getMessage(line); }));
    EXPECT_EQ(line, ":alice PRIVMSG #chat :bye");
    ASSERT_TRUE(eventually([&] {
        client.getMessage(line);
        return !client.isConnected();
    }));
    fd_set set;
    FD_ZERO(&set);
    EXPECT_EQ(client.addToFdSet(&set), -1);
    line = "kept";
    EXPECT_FALSE(client.getMessage(line));
    EXPECT_EQ(line, "kept");
    EXPECT_FALSE(client.sendMessage("PRIVMSG #chat :dropped"));
}

TEST_F(IRCClientTest, SendingWhileLoggedOutDropsTheText) {
    std::string line = "kept";
    EXPECT_FALSE(client.sendMessage("PRIVMSG #chat :nobody"));
    EXPECT_FALSE(client.getMessage(line));
    EXPECT_EQ(line, "kept");
    EXPECT_FALSE(client.Disconnect());
}

TEST_F(IRCClientTest, DestroyingALoggedInClientSaysQuit) {
    {
        IRCClient temporary;
        IRCConfig config = settings();
        ASSERT_TRUE(temporary.setConfig(config));
        ASSERT_TRUE(temporary.Connect());
        server.accept();
        server.welcome("brivox");
    }
    EXPECT_EQ(server.readLine(), "QUIT");
    EXPECT_TRUE(server.clientClosed());
}

TEST_F(IRCClientTest, DestroyingAClientThatNeverLoggedInSendsNothing) {
    LogCapture log;
    server.stopListening();
    {
        IRCClient temporary;
        ASSERT_TRUE(temporary.setConfig(settings()));
        EXPECT_FALSE(temporary.Connect());
    }
    EXPECT_FALSE(log.contains("QUIT"));
}

TEST_F(IRCClientTest, PongOvertakesQueuedChat) {
    const IRCConfig config = oneLinePerMinute();
    connect(config);
    server.welcome("brivox");
    pumpUntil(" 001 ");
    for (int i = 0; i < 5; ++i)
        client.sendMessage("PRIVMSG #chat :queued " + std::to_string(i));
    client.releasePaced();
    EXPECT_EQ(server.readLine(), "PRIVMSG #chat :queued 0");
    server.sendLine("PING :still there?");
    server.sendLine(":irc.scripted NOTICE brivox :after the ping");
    pumpUntil("after the ping");
    client.releasePaced();
    EXPECT_EQ(server.readLine(), "PONG :still there?");
    EXPECT_EQ(server.readFor(std::chrono::milliseconds(100)), "");
}

TEST_F(IRCClientTest, PacingOffWritesEveryLineAtOnce) {
    IRCConfig config = settings();
    config.irc_line_interval = 0;
    connect(config);
    server.welcome("brivox");
    for (int i = 0; i < 50; ++i)
        client.sendMessage("PRIVMSG #chat :line " + std::to_string(i));
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(server.readLine(std::chrono::milliseconds(500)), "PRIVMSG #chat :line " + std::to_string(i));
}

TEST_F(IRCClientTest, OverflowingTheQueueDropsTheOldestWithOneWarning) {
    LogCapture log;
    const IRCConfig config = oneLinePerMinute();
    connect(config);
    server.welcome("brivox");
    for (std::size_t i = 0; i < LinePacer::kMaxQueuedLines + 101; ++i)
        client.sendMessage("PRIVMSG #chat :" + std::to_string(i));
    client.releasePaced();
    client.releasePaced();
    EXPECT_EQ(log.count("IRCClient::sendMessage(): more than 1000 lines or 262144 bytes waiting for the "
                        "server; dropped the 101 oldest"),
              1);
    EXPECT_EQ(log.count("dropped"), 1);
    EXPECT_EQ(server.readLine(), "PRIVMSG #chat :101");
}

TEST_F(IRCClientTest, SetConfigRefusesABurstBelowOneAndANegativeInterval) {
    IRCConfig config = settings();
    config.irc_burst_lines = 0;
    EXPECT_FALSE(client.setConfig(config));
    config.irc_burst_lines = 1;
    config.irc_line_interval = -1;
    EXPECT_FALSE(client.setConfig(config));
    config.irc_line_interval = 0;
    EXPECT_TRUE(client.setConfig(config));
}

TEST_F(IRCClientTest, QueuedChatForALostLinkIsDropped) {
    const IRCConfig config = oneLinePerMinute();
    connect(config);
    server.welcome("brivox");
    client.sendMessage("PRIVMSG #chat :first");
    client.sendMessage("PRIVMSG #chat :never sent");
    client.releasePaced();
    server.dropClient();
    std::string line;
    ASSERT_TRUE(eventually([&] {
        client.getMessage(line);
        return !client.isConnected();
    }));
    EXPECT_FALSE(client.nextPacedLineIn().has_value());
}

TEST(IRCReplies, NumbersAndNickRepliesAreReadWithOrWithoutPrefix) {
    EXPECT_EQ(ircReplyNumber(":irc.example.net 433 * brivox :in use"), 433);
    EXPECT_EQ(ircReplyNumber("433 * brivox :in use"), 433);
    EXPECT_EQ(ircReplyNumber(":prefix-without-space"), 0);
    EXPECT_EQ(ircReplyNumber("NOTICE * :hello"), 0);
    EXPECT_EQ(classifyNickReply(":s 433 * b :in use"), NickReply::InUse);
    for (const char* refused : {":s 432 * b :Erroneous", ":s 436 * b :Collision", "437 * b :Unavailable"})
        EXPECT_EQ(classifyNickReply(refused), NickReply::Refused) << refused;
    EXPECT_EQ(classifyNickReply(":s NOTICE * :Looking up your hostname"), NickReply::Other);
    EXPECT_EQ(classifyNickReply(":s 001 b :Welcome"), NickReply::Other);
}
