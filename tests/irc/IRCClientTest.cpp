#include <gtest/gtest.h>

#include "Eventually.h"
#include "LogCapture.h"
#include "ScriptedIrcServer.h"
#include "frame/Log.h"
#include "irc/IRCClient.h"
#include "net/TlsSession.h"

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

    // Welcomes the client and confirms its JOIN, pumping it in between.
    void enterChannel(const std::string& nick = "brivox") {
        server.greet(nick);
        pumpUntil(" 001 ");
        server.confirmJoin(nick);
        pumpUntil(" JOIN ");
        ASSERT_EQ(client.state(), LinkState::InChannel);
    }
    // Pumps getMessage until the client finds the link gone.
    bool pumpUntilDown() {
        std::string line;
        return eventually([&] {
            while (client.getMessage(line)) {
            }
            return !client.isConnected();
        });
    }

    ScriptedIrcServer server;
    IRCClient client;
};

}  // namespace

TEST_F(IRCClientTest, RegistersThenJoinsOnTheWelcomeAndCountsAsInTheChannelOnceConfirmed) {
    LogCapture log;
    connect(settings());
    EXPECT_EQ(server.readLine(), "NICK brivox");
    EXPECT_EQ(server.readLine(), "USER brivox 0 * :brivox gate bot");
    EXPECT_EQ(server.readFor(std::chrono::milliseconds(100)), "");
    EXPECT_EQ(client.state(), LinkState::LoggingIn);
    // Chat relayed before the server let us in waits for the channel.
    client.sendMessage("PRIVMSG #chat :early");
    server.sendLine(":irc.scripted 001 brivox :Welcome");
    pumpUntil(" 001 ");
    EXPECT_EQ(client.state(), LinkState::Joining);
    EXPECT_EQ(server.readLine(), "JOIN #chat");
    client.tick();
    EXPECT_EQ(server.readFor(std::chrono::milliseconds(100)), "");
    server.sendLine(":Brivox!bot@scripted JOIN :#CHAT");
    pumpUntil(" JOIN ");
    EXPECT_EQ(client.state(), LinkState::InChannel);
    client.tick();
    EXPECT_EQ(server.readLine(), "PRIVMSG #chat :early");
    EXPECT_TRUE(log.contains("Joined #chat as brivox\n"));
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

TEST_F(IRCClientTest, SetConfigRefusesMissingSettingsBadPortsAndBytesTheWireCannotCarry) {
    LogCapture log;
    const IRCConfig good = settings();
    ASSERT_TRUE(client.setConfig(good));
    for (auto spoil : {+[](IRCConfig& c) { c.irc_nick = ""; }, +[](IRCConfig& c) { c.irc_server = ""; },
                       +[](IRCConfig& c) { c.irc_username = ""; }, +[](IRCConfig& c) { c.irc_channel = ""; },
                       +[](IRCConfig& c) { c.irc_port = 0; }, +[](IRCConfig& c) { c.irc_port = 76667; },
                       +[](IRCConfig& c) { c.irc_port = -1; },
                       +[](IRCConfig& c) { c.irc_channel = std::string("#c\0x", 4); },
                       +[](IRCConfig& c) { c.irc_channel = "#a,#b"; }, +[](IRCConfig& c) { c.irc_channel = "#a\a"; },
                       +[](IRCConfig& c) { c.irc_nick = "two words"; },
                       +[](IRCConfig& c) { c.irc_password = "pass\r\nQUIT"; },
                       +[](IRCConfig& c) { c.irc_username = "a\nb"; },
                       +[](IRCConfig& c) { c.irc_realname = std::string(1024 * 1024, 'r'); },
                       +[](IRCConfig& c) { c.irc_channel = "#" + std::string(200, 'c'); },
                       +[](IRCConfig& c) { c.irc_channel_key = "two words"; },
                       +[](IRCConfig& c) { c.irc_tls = "maybe"; },
                       +[](IRCConfig& c) { c.irc_tls_verify = "perhaps"; },
                       +[](IRCConfig& c) { c.irc_tls_cert = "/dev/null"; },
                       +[](IRCConfig& c) { c.irc_tls = "yes", c.irc_tls_cert = BRIVOX_SOURCE_DIR "/README.md"; },
                       +[](IRCConfig& c) { c.irc_tls = "yes", c.irc_tls_cert = "/dev/zero"; },
                       +[](IRCConfig& c) { c.irc_sasl_user = "bridge"; },
                       +[](IRCConfig& c) { c.irc_sasl_password = "secret"; }}) {
        IRCConfig bad = good;
        bad.irc_nick = "other";
        spoil(bad);
        EXPECT_FALSE(client.setConfig(bad));
        EXPECT_EQ(client.getConfig().irc_nick, "brivox");
    }
    EXPECT_TRUE(log.contains("IRCClient::setConfig(): irc_channel holds \"\\x00\", which the protocol does not allow there"));
    EXPECT_TRUE(log.contains("IRCClient::setConfig(): irc_realname is 1048576 bytes long; at most 255 fit"));
    EXPECT_TRUE(log.contains("IRCClient::setConfig(): irc_tls is \"maybe\"; it takes yes or no"));
    EXPECT_TRUE(log.contains("IRCClient::setConfig(): irc_tls_cert is set, but irc_tls is no"));
    if (TlsSession::available()) {
        EXPECT_TRUE(log.contains("IRCClient::setConfig(): irc_tls_cert \"" BRIVOX_SOURCE_DIR "/README.md\" cannot be used: "));
        EXPECT_TRUE(log.contains("IRCClient::setConfig(): irc_tls_cert \"/dev/zero\" is not a regular file"));
    } else {
        EXPECT_TRUE(log.contains("IRCClient::setConfig(): irc_tls is yes, but brivox was built without TLS"));
    }
    EXPECT_TRUE(log.contains("IRCClient::setConfig(): irc_sasl_user needs irc_sasl_password, or irc_tls_cert for EXTERNAL"));
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

TEST_F(IRCClientTest, NickInUseGetsOneMoreUnderscoreEightTimesThenTheLogInIsGivenUp) {
    LogCapture log;
    connect(settings());
    server.readLine();
    server.readLine();
    std::string nick = "brivox";
    for (int refusal = 0; refusal <= IRCClient::kMaxNickRetries; ++refusal) {
        server.sendLine(":irc.scripted 433 * " + nick + " :Nickname already in use");
        if (refusal == IRCClient::kMaxNickRetries)
            break;
        nick += "_";
        pumpUntil(" 433 ");
        EXPECT_EQ(server.readLine(), "NICK " + nick);
    }
    EXPECT_TRUE(pumpUntilDown());
    EXPECT_EQ(server.readLine(), "QUIT");
    EXPECT_TRUE(server.clientClosed());
    EXPECT_EQ(log.count("\" already in use"), IRCClient::kMaxNickRetries);
    EXPECT_EQ(log.count("Trying \"brivox________\""), 1);
    EXPECT_EQ(log.count("IRCClient: log-in given up: the server refused 9 nicks, the last \"brivox________\"; "
                        "it said: \":irc.scripted 433 * brivox________ :Nickname already in use\""),
              1);

    // The next log-in starts from the configured nick again.
    ASSERT_TRUE(client.Connect());
    server.accept();
    EXPECT_EQ(server.readLine(), "NICK brivox");
}

TEST_F(IRCClientTest, RefusedNickEndsTheAttemptEvenWhenItComesLate) {
    LogCapture log;
    connect(settings());
    server.readLine();
    server.readLine();
    server.sendLine(":irc.scripted NOTICE * :*** Looking up your hostname");
    server.sendLine(":irc.scripted 432 * brivox :Erroneous Nickname");
    EXPECT_TRUE(pumpUntilDown());
    EXPECT_TRUE(log.contains("IRC server refused our nick with reply: 432 * brivox :Erroneous Nickname\n"));
    EXPECT_TRUE(server.clientClosed());
}

TEST_F(IRCClientTest, AServerThatNeverWelcomesUsIsLeftAfterTheLogInBound) {
    LogCapture log;
    Connection::setWaitLimit(std::chrono::milliseconds(300));
    connect(settings());
    server.sendLine(":irc.scripted NOTICE * :chatty\x01");
    const bool down = eventually([&] {
        std::string line;
        while (client.getMessage(line)) {
        }
        client.tick();
        return !client.isConnected();
    });
    Connection::setWaitLimit(Connection::kDefaultWaitLimit);
    EXPECT_TRUE(down);
    EXPECT_TRUE(log.contains("IRCClient: log-in given up: no welcome from the server within 300 ms as \"brivox\" (0 nick "
                             "retries); it said last: "
                             "\":irc.scripted NOTICE * :chatty\\x01\""));
    EXPECT_TRUE(server.clientClosed());
}

TEST_F(IRCClientTest, PingsAreAnsweredByteForByteAndNeverHandedOver) {
    connect(settings());
    enterChannel();
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

// Everything that was complete before the end of the stream is handed over,
// the ERROR that says why included; only then is the side down, and the
// chat still queued for the server is counted.
TEST_F(IRCClientTest, ServerClosingTheLinkStillDeliversEveryCompleteLine) {
    LogCapture log;
    connect(oneLinePerMinute());
    enterChannel();
    client.sendMessage("PRIVMSG #chat :sent");
    client.sendMessage("PRIVMSG #chat :waiting 1");
    client.sendMessage("PRIVMSG #chat :waiting 2");
    client.tick();
    server.sendRaw(":alice PRIVMSG #chat :one\r\n:alice PRIVMSG #chat :two\r\n"
                   "ERROR :Closing Link: brivox[127.0.0.1] (Killed\x1b[2J)\r\n:half");
    server.dropClient();
    std::string line;
    ASSERT_TRUE(eventually([&] { return client.getMessage(line); }));
    EXPECT_EQ(line, ":alice PRIVMSG #chat :one");
    ASSERT_TRUE(client.getMessage(line));
    EXPECT_EQ(line, ":alice PRIVMSG #chat :two");
    ASSERT_TRUE(client.getMessage(line));
    line = "kept";
    EXPECT_FALSE(client.getMessage(line));
    EXPECT_EQ(line, "kept");
    EXPECT_FALSE(client.isConnected());
    fd_set set;
    FD_ZERO(&set);
    EXPECT_EQ(client.addToFdSet(&set), -1);
    EXPECT_FALSE(client.sendMessage("PRIVMSG #chat :dropped"));
    EXPECT_TRUE(log.contains("IRC server closes the link: ERROR :Closing Link: brivox[127.0.0.1] (Killed\\x1B[2J)\n"));
    EXPECT_TRUE(log.contains("IRCClient: the link to the server is gone; dropped 2 lines that were waiting for it"));
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
    }
    server.readLine();
    server.readLine();
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
    connect(oneLinePerMinute());
    enterChannel();
    for (int i = 0; i < 5; ++i)
        client.sendMessage("PRIVMSG #chat :queued " + std::to_string(i));
    client.tick();
    EXPECT_EQ(server.readLine(), "PRIVMSG #chat :queued 0");
    server.sendLine("PING :still there?");
    server.sendLine(":irc.scripted NOTICE brivox :after the ping");
    pumpUntil("after the ping");
    client.tick();
    EXPECT_EQ(server.readLine(), "PONG :still there?");
    EXPECT_EQ(server.readFor(std::chrono::milliseconds(100)), "");
}

TEST_F(IRCClientTest, PacingOffWritesEveryLineAtOnce) {
    IRCConfig config = settings();
    config.irc_line_interval = 0;
    connect(config);
    enterChannel();
    for (int i = 0; i < 50; ++i)
        client.sendMessage("PRIVMSG #chat :line " + std::to_string(i));
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(server.readLine(std::chrono::milliseconds(500)), "PRIVMSG #chat :line " + std::to_string(i));
}

TEST_F(IRCClientTest, OverflowingTheQueueDropsTheOldestWithOneWarning) {
    LogCapture log;
    connect(oneLinePerMinute());
    enterChannel();
    for (std::size_t i = 0; i < LinePacer::kMaxQueuedLines + 101; ++i)
        client.sendMessage("PRIVMSG #chat :" + std::to_string(i));
    client.tick();
    client.tick();
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

// Kicked or refused by the channel, the bot stays on the server and joins
// again later; chat for the channel meanwhile is dropped and counted once.
TEST_F(IRCClientTest, KickAndRefusedJoinKeepTheBotOutForAWhileAndDropItsChat) {
    LogCapture log;
    connect(oneLinePerMinute());
    enterChannel();
    client.sendMessage("PRIVMSG #chat :sent");
    client.sendMessage("PRIVMSG #chat :queued when kicked");
    client.tick();
    EXPECT_EQ(server.readLine(), "PRIVMSG #chat :sent");
    server.sendLine(":op!o@h KICK #Chat Brivox :behave\x03" "4!");
    pumpUntil(" KICK ");
    EXPECT_EQ(client.state(), LinkState::OutOfChannel);
    EXPECT_TRUE(log.contains("Kicked from #chat by op: behave\\x034!\n"));
    EXPECT_FALSE(client.sendMessage("PRIVMSG #chat :while away"));
    const auto wake = client.nextWakeIn();
    ASSERT_TRUE(wake.has_value());
    EXPECT_GT(*wake, std::chrono::seconds(4));
    EXPECT_LE(*wake, IRCClient::kRejoinPause);
    client.tick();
    EXPECT_EQ(server.readFor(std::chrono::milliseconds(100)), "");

    server.sendLine(":irc.scripted 474 brivox #chat :Cannot join channel (+b)");
    pumpUntil(" 474 ");
    EXPECT_TRUE(log.contains("Cannot join #chat: 474 brivox #chat :Cannot join channel (+b)\n"));
    server.sendLine(":brivox!bot@scripted JOIN #chat");
    pumpUntil(" JOIN ");
    EXPECT_EQ(client.state(), LinkState::InChannel);
    EXPECT_EQ(log.count("IRCClient: dropped 2 lines for #chat while not in it"), 1);
}

TEST_F(IRCClientTest, KicksOfOthersAndErrorsAboutOtherChannelsChangeNothing) {
    connect(settings());
    enterChannel();
    server.sendLine(":op!o@h KICK #chat alice :bye");
    server.sendLine(":op!o@h KICK #other brivox :bye");
    server.sendLine(":irc.scripted 474 brivox #other :Cannot join channel (+b)");
    server.sendLine(":irc.scripted 404 brivox #chat :Cannot send to channel");
    pumpUntil(" 404 ");
    EXPECT_EQ(client.state(), LinkState::InChannel);
}

TEST(IRCMessage, PrefixCommandParametersAndTrailingText) {
    const IRCMessage kick = parseIRCMessage("@time=x :op!o@h  KICK #chat bot :go away now");
    EXPECT_EQ(kick.prefix, "op!o@h");
    EXPECT_EQ(kick.senderNick(), "op");
    EXPECT_EQ(kick.command, "KICK");
    EXPECT_EQ(kick.params, (std::vector<std::string>{"#chat", "bot", "go away now"}));
    EXPECT_EQ(kick.param(5), "");
    EXPECT_EQ(kick.number(), 0);
    const IRCMessage numeric = parseIRCMessage("433 * brivox :in use");
    EXPECT_EQ(numeric.prefix, "");
    EXPECT_EQ(numeric.number(), 433);
    EXPECT_EQ(parseIRCMessage(":s 4x3 a").number(), 0);
    EXPECT_EQ(parseIRCMessage("JOIN :").params, (std::vector<std::string>{""}));
    EXPECT_EQ(parseIRCMessage(":only-a-prefix").command, "");
    EXPECT_EQ(withoutPrefix(":s 001 b :hi"), "001 b :hi");
    EXPECT_EQ(withoutPrefix(":no-space"), ":no-space");
    EXPECT_TRUE(ircNamesEqual("#Chat[x]\\~", "#chat{X}|^"));
    EXPECT_FALSE(ircNamesEqual("#chat", "#chat2"));
    EXPECT_FALSE(ircNamesEqual("#ch@t", "#ch`t"));
}

// What shapes our lines: the server's case mapping and our prefix as the
// server shows it to others.
TEST_F(IRCClientTest, LearnsTheCaseMappingAndItsOwnPrefix) {
    connect(settings());
    EXPECT_EQ(client.serverView().ownPrefixBytes, 1 + 6 + 1 + 10 + 1 + 63 + 1u);
    server.greet("brivox");
    server.sendLine(":irc.scripted 005 brivox NICKLEN=30 CASEMAPPING=ascii CHANTYPES=# :are supported");
    pumpUntil(" 005 ");
    EXPECT_EQ(client.serverView().caseMapping, CaseMapping::Ascii);
    EXPECT_EQ(server.readLine(), "JOIN #chat");
    server.sendLine(":BRIVOX!~bot@host.example JOIN #CHAT");
    pumpUntil("#CHAT");
    EXPECT_EQ(client.state(), LinkState::InChannel);
    EXPECT_EQ(client.serverView().ownPrefixBytes, std::string(":brivox!~bot@host.example ").size());
}

// A link cut by a NAT or a firewall stays "up" for TCP: after a silence we
// ask for a sign of life, and without one the link is given up.
TEST_F(IRCClientTest, ASilentServerIsPingedAndGivenUpWhenItStaysSilent) {
    LogCapture log;
    Connection::setWaitLimit(std::chrono::milliseconds(300));
    connect(settings());
    enterChannel();
    const auto quiet = std::chrono::steady_clock::now();
    std::string line;
    EXPECT_TRUE(eventually([&] {
        client.tick();
        while (client.getMessage(line)) {
        }
        return server.readFor(std::chrono::milliseconds(20)).find("PING :brivox\r\n") != std::string::npos;
    }, std::chrono::seconds(5)));
    EXPECT_GE(std::chrono::steady_clock::now() - quiet, std::chrono::milliseconds(400));
    // An answer keeps the link.
    server.sendLine(":irc.scripted PONG irc.scripted :brivox");
    pumpUntil(" PONG ");
    client.tick();
    EXPECT_TRUE(client.isConnected());
    // Silence after the next PING ends it.
    const bool down = eventually([&] {
        client.tick();
        while (client.getMessage(line)) {
        }
        return !client.isConnected();
    }, std::chrono::seconds(5));
    Connection::setWaitLimit(Connection::kDefaultWaitLimit);
    EXPECT_TRUE(down);
    EXPECT_TRUE(log.contains("IRCClient: no data from the server within 300 ms of our PING; the link is dead"));
}

// The exchange a server with SASL expects, byte for byte, with the key of a
// keyed channel on the JOIN; then the answers that end an attempt: a refused
// password, and a server that offers no SASL.
TEST_F(IRCClientTest, SaslPlainLogsInBeforeTheWelcomeAndItsFailuresEndTheAttempt) {
    LogCapture log;
    IRCConfig config = settings();
    config.irc_sasl_user = "bridge";
    config.irc_sasl_password = "s3cret pass";
    config.irc_channel_key = "k3y";
    const auto openExchange = [&](const std::string& capabilities) {
        ASSERT_TRUE(client.Connect());
        server.accept();
        EXPECT_EQ(server.readLine(), "CAP LS 302");
        EXPECT_EQ(server.readLine(), "NICK brivox");
        EXPECT_EQ(server.readLine(), "USER brivox 0 * :brivox gate bot");
        server.sendLine(":irc.scripted CAP * LS * :multi-prefix away-notify");
        server.sendLine(":irc.scripted CAP * LS :" + capabilities);
        pumpUntil(" LS :");
    };
    const auto authenticate = [&] {
        EXPECT_EQ(server.readLine(), "CAP REQ :sasl");
        server.sendLine(":irc.scripted CAP * ACK :sasl");
        pumpUntil(" ACK ");
        EXPECT_EQ(server.readLine(), "AUTHENTICATE PLAIN");
        server.sendLine("AUTHENTICATE +");
        pumpUntil("AUTHENTICATE");
        EXPECT_EQ(server.readLine(), "AUTHENTICATE YnJpZGdlAGJyaWRnZQBzM2NyZXQgcGFzcw==");
    };
    ASSERT_TRUE(client.setConfig(config));
    openExchange("sasl=PLAIN,EXTERNAL server-time");
    authenticate();
    server.sendLine(":irc.scripted 900 brivox brivox!bot@host bridge :You are now logged in as bridge");
    server.sendLine(":irc.scripted 903 brivox :SASL authentication successful");
    pumpUntil(" 903 ");
    EXPECT_EQ(server.readLine(), "CAP END");
    EXPECT_TRUE(log.contains("SASL PLAIN log-in as bridge accepted\n"));
    server.sendLine(":irc.scripted 001 brivox :Welcome");
    pumpUntil(" 001 ");
    EXPECT_EQ(server.readLine(), "JOIN #chat k3y");

    openExchange("sasl");
    authenticate();
    server.sendLine(":irc.scripted 904 brivox :SASL authentication failed");
    EXPECT_TRUE(pumpUntilDown());
    EXPECT_EQ(server.readLine(), "QUIT");
    EXPECT_TRUE(log.contains("IRCClient: SASL log-in as bridge failed: the server refused the log-in: "
                             "\"904 brivox :SASL authentication failed\"\n"));

    openExchange("multi-prefix");
    EXPECT_TRUE(pumpUntilDown());
    EXPECT_EQ(server.readLine(), "QUIT");
    EXPECT_TRUE(log.contains("failed: the server does not offer SASL; it offers \"multi-prefix away-notify multi-prefix\"\n"));
}
