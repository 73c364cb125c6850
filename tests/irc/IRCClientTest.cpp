#include <gtest/gtest.h>

#include "ClientLoop.h"
#include "LogCapture.h"
#include "ScriptedIrcServer.h"
#include "irc/IRCClient.h"
#include "irc/relayedNick.h"
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
    // Starts a log-in (of the fixture's client unless another is given)
    // and takes the connection on the server's side.
    void connect(const IRCConfig& config) { connect(config, client, loop); }
    void connect(const IRCConfig& config, IRCClient& which, ClientLoop& itsLoop) {
        which.setConfig(config);
        ASSERT_TRUE(itsLoop.open());
        server.accept();
    }
    // Welcomes the client and confirms its JOIN.
    void enterChannel() { enterChannel(client, loop); }
    void enterChannel(IRCClient& which, ClientLoop& itsLoop) {
        server.greet("brivox");
        ASSERT_TRUE(itsLoop.runUntil([&] { return which.state() == LinkState::Joining; }));
        server.confirmJoin("brivox");
        ASSERT_TRUE(itsLoop.untilUp());
    }

    ScriptedIrcServer server;
    IRCClient client;
    ClientLoop loop{client};
};

// Shortens the patience of every client for one test.
struct Patience {
    explicit Patience(std::chrono::milliseconds patience) { ChatClient::setPatience(patience); }
    ~Patience() { ChatClient::setPatience(ChatClient::kDefaultPatience); }
};

}  // namespace

// PASS, NICK and USER as soon as the link is open; JOIN on the welcome; in
// the channel once the server confirms it. Chat meanwhile waits for it.
TEST_F(IRCClientTest, RegistersThenJoinsOnTheWelcomeAndChatWaitsForTheChannel) {
    LogCapture log;
    IRCConfig config = settings();
    config.irc_password = "sesame";
    config.irc_realname = "";
    connect(config);
    EXPECT_EQ(server.readLine(), "PASS sesame");
    EXPECT_EQ(server.readLine(), "NICK brivox");
    EXPECT_EQ(server.readLine(), "USER brivox 0 * :");
    EXPECT_EQ(client.state(), LinkState::LoggingIn);
    client.sendChat("early");
    server.sendLine(":irc.scripted 001 brivox :Welcome");
    ASSERT_TRUE(loop.runUntil([&] { return client.state() == LinkState::Joining; }));
    EXPECT_EQ(server.readLine(), "JOIN #chat");
    loop.pass();
    EXPECT_EQ(server.readFor(std::chrono::milliseconds(100)), "");
    server.sendLine(":Brivox!bot@scripted JOIN :#CHAT");
    ASSERT_TRUE(loop.untilUp());
    loop.pass();
    EXPECT_EQ(server.readLine(), "PRIVMSG #chat :early");
    EXPECT_TRUE(log.contains("Joined #chat as brivox\n"));
}

// Only a PRIVMSG from a user to our channel is chat; an action is an action,
// other CTCP stays on IRC, and the text comes byte for byte.
TEST_F(IRCClientTest, ChannelMessagesFromUsersAreChatAndNothingElseIs) {
    connect(settings());
    enterChannel();
    for (const char* line :
         {":alice!a@h PRIVMSG #Chat :hello", ":alice@h PRIVMSG #chat :host only", ":alice PRIVMSG #chat :nick only",
          ":bob!b@2001:db8::1 PRIVMSG #chat :a:b :c", ":alice!a@h PRIVMSG #chat :\x01" "ACTION waves\x01",
          ":alice!a@h PRIVMSG #chat :", "@time=x :carol!c@h PRIVMSG #chat :tagged",
          ":alice!a PRIVMSG #chat :user without host", ":al:ice!a@h PRIVMSG #chat :colon in the nick",
          ":alice!a@h PRIVMSG #chat :\x01VERSION\x01", ":alice!a@h PRIVMSG #chat :\x01" "ACTIONS\x01",
          ":alice!a@h PRIVMSG brivox :private", ":alice!a@h NOTICE #chat :notice", ":alice!a@h PRIVMSG #other :x",
          ":alice!a@h PRIVMSG #chat,#other :x", "PRIVMSG #chat :no prefix", ":alice!a@h PRIVMSG #chatter :x",
          ":irc.scripted 332 brivox #chat :topic", ":alice!a@h PRIVMSG #chat :last"})
        server.sendLine(line);
    ASSERT_TRUE(loop.runUntil([&] { return !loop.chat.empty() && loop.chat.back() == "alice: last"; }));
    EXPECT_EQ(loop.chat, (std::vector<std::string>{"alice: hello", "alice: host only", "alice: nick only",
                                                    "bob: a:b :c", "* alice waves", "alice: ", "carol: tagged",
                                                    "alice: last"}));
}

TEST_F(IRCClientTest, NickInUseGetsOneMoreUnderscoreEightTimesThenTheLogInIsGivenUp) {
    LogCapture log;
    client.setReconnectDelays(std::chrono::seconds(1), std::chrono::seconds(1));
    connect(settings());
    server.readLine();
    server.readLine();
    std::string nick = "brivox";
    for (int refusal = 0; refusal <= IRCClient::kMaxNickRetries; ++refusal) {
        server.sendLine(":irc.scripted 433 * " + nick + " :Nickname already in use");
        if (refusal == IRCClient::kMaxNickRetries)
            break;
        nick += "_";
        ASSERT_TRUE(loop.runUntil([&] { return client.getConfig().irc_nick == nick; }));
        EXPECT_EQ(server.readLine(), "NICK " + nick);
    }
    EXPECT_TRUE(loop.untilDown());
    EXPECT_EQ(server.readLine(), "QUIT");
    EXPECT_TRUE(server.clientClosed());
    EXPECT_EQ(log.count("\" already in use"), IRCClient::kMaxNickRetries);
    EXPECT_EQ(log.count("IRCClient: log-in given up: the server refused 9 nicks, the last \"brivox________\"; "
                        "it said: \":irc.scripted 433 * brivox________ :Nickname already in use\""),
              1);

    // The next log-in, when due, starts from the configured nick again.
    server.dropClient();
    ASSERT_TRUE(loop.runUntil([&] { return client.linkOpen(); }));
    server.accept();
    EXPECT_EQ(server.readLine(), "NICK brivox");
}

// A refused nick, a refused SASL log-in, a server that never welcomes us:
// each ends the attempt with one line saying why.
TEST_F(IRCClientTest, ARefusedOrStalledRegistrationEndsTheAttemptWithItsReason) {
    LogCapture log;
    connect(settings());
    server.sendLine(":irc.scripted NOTICE * :*** Looking up your hostname");
    server.sendLine(":irc.scripted 432 * brivox :Erroneous Nickname");
    EXPECT_TRUE(loop.untilDown());
    EXPECT_TRUE(log.contains("IRCClient: log-in given up: IRC server refused our nick with reply: "
                             "432 * brivox :Erroneous Nickname\n"));
    EXPECT_TRUE(server.clientClosed());

    const Patience patience(std::chrono::milliseconds(300));
    IRCClient stalled;
    ClientLoop stalledLoop(stalled);
    connect(settings(), stalled, stalledLoop);
    server.sendLine(":irc.scripted NOTICE * :chatty\x01");
    EXPECT_TRUE(stalledLoop.untilDown());
    EXPECT_TRUE(log.contains("IRCClient: log-in given up: no log-in within 300 ms as \"brivox\" (0 nick retries); "
                             "it said last: \":irc.scripted NOTICE * :chatty\\x01\""));

    if (!TlsSession::available())
        return;
    IRCClient silent;
    ClientLoop silentLoop(silent);
    IRCConfig config = settings();
    config.irc_tls = "yes";
    silent.setConfig(config);
    silent.tick();
    server.accept();
    EXPECT_TRUE(silentLoop.untilDown());
    EXPECT_TRUE(log.contains("Connection::Connect(): TLS handshake with 127.0.0.1 timed out after 300 ms\n"));
    EXPECT_TRUE(log.contains("IRCClient::Connect(): cann't connect to requested address\n"));
}

// Whatever its prefix or letter case, a PING is answered at once, with its
// parameters byte for byte, before the chat that waits for its turn.
TEST_F(IRCClientTest, PingsAreAnsweredAtOnceByteForByteAheadOfQueuedChat) {
    connect(oneLinePerMinute());
    server.sendLine("PING :early");
    loop.runUntil([&] { return false; }, std::chrono::milliseconds(100));
    server.readLine();
    server.readLine();
    EXPECT_EQ(server.readLine(), "PONG :early");
    server.sendLine(":irc.scripted 001 brivox :Welcome");
    ASSERT_TRUE(loop.runUntil([&] { return client.state() == LinkState::Joining; }));
    server.confirmJoin("brivox");
    ASSERT_TRUE(loop.untilUp());
    for (int i = 0; i < 3; ++i)
        client.sendChat("queued " + std::to_string(i));
    loop.pass();
    EXPECT_EQ(server.readLine(), "PRIVMSG #chat :queued 0");
    server.sendRaw("PING :irc.scripted\r\nPING token\r\nPING\r\n:irc.scripted PING :prefixed\r\nping lower\r\n"
                   "@t=1 PING :tagged\r\nPINGX\r\n");
    loop.runUntil([&] { return false; }, std::chrono::milliseconds(100));
    for (const char* pong :
         {"PONG :irc.scripted", "PONG token", "PONG ", "PONG :prefixed", "PONG lower", "PONG :tagged"})
        EXPECT_EQ(server.readLine(), pong);
    EXPECT_EQ(server.readFor(std::chrono::milliseconds(100)), "");
    EXPECT_TRUE(loop.chat.empty());
}

// Everything complete before the end of the stream is handed over; only
// then is the side down, and the chat still queued for the server counted.
TEST_F(IRCClientTest, ServerClosingTheLinkStillDeliversEveryCompleteLine) {
    LogCapture log;
    connect(oneLinePerMinute());
    enterChannel();
    for (const char* text : {"sent", "waiting 1", "waiting 2"})
        client.sendChat(text);
    loop.pass();
    server.sendRaw(":alice!a@h PRIVMSG #chat :one\r\n:alice!a@h PRIVMSG #chat :two\r\n"
                   "ERROR :Closing Link: brivox[127.0.0.1] (Killed\x1b[2J)\r\n:half");
    server.dropClient();
    EXPECT_TRUE(loop.untilDown());
    EXPECT_EQ(loop.chat, (std::vector<std::string>{"alice: one", "alice: two"}));
    client.sendChat("dropped");
    EXPECT_TRUE(log.contains("IRCClient: the link to the server is gone; dropped 2 lines that were waiting for it"));
    EXPECT_TRUE(log.contains("IRC connection closed. Trying to reconnect... in 10 s; the server said last: "
                             "\"ERROR :Closing Link: brivox[127.0.0.1] (Killed\\x1B[2J)\"\n"));
}

// A logged-in client says QUIT when it goes; one that never tried makes no
// connection at all.
TEST_F(IRCClientTest, DestroyingAClientSaysQuitOnlyWhereItIsLoggedIn) {
    {
        IRCClient never;
        never.setConfig(settings());
    }
    EXPECT_THROW(server.accept(std::chrono::milliseconds(100)), std::runtime_error);
    {
        IRCClient temporary;
        ClientLoop temporaryLoop(temporary);
        connect(settings(), temporary, temporaryLoop);
    }
    server.readLine();
    server.readLine();
    EXPECT_EQ(server.readLine(), "QUIT");
    EXPECT_TRUE(server.clientClosed());
}

TEST_F(IRCClientTest, WithoutPacingEveryLineGoesAtOnceAndAFullQueueDropsTheOldestWithOneWarning) {
    IRCConfig config = settings();
    config.irc_line_interval = 0;
    connect(config);
    enterChannel();
    // A \x01 inside an action would end it early for every client.
    client.sendChat("<a\x01l> waves\x01 ", true);
    for (int i = 0; i < 50; ++i)
        client.sendChat("line " + std::to_string(i));
    EXPECT_EQ(server.readLine(), "PRIVMSG #chat :\x01" "ACTION <al> waves \x01");
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(server.readLine(std::chrono::milliseconds(500)), "PRIVMSG #chat :line " + std::to_string(i));

    LogCapture log;
    IRCClient paced;
    ClientLoop pacedLoop(paced);
    connect(oneLinePerMinute(), paced, pacedLoop);
    enterChannel(paced, pacedLoop);
    // A burst that goes on over many passes, as the relay hands it over:
    // the first line goes, the next waits a minute, and one warning tells
    // of what the queue dropped, however many passes the burst lasted.
    for (std::size_t i = 0; i < LinePacer::kMaxQueuedLines + 5000; ++i) {
        paced.sendChat(std::to_string(i));
        if (i % ChatClient::kMaxMessagesPerServe == 0)
            pacedLoop.pass();
    }
    pacedLoop.pass();
    pacedLoop.pass();
    EXPECT_EQ(log.count("IRCClient::sendMessage(): more than 1000 lines or 262144 bytes waiting for the "
                        "server; dropped the 4999 oldest"),
              1);
    EXPECT_EQ(log.count("dropped"), 1);
    EXPECT_EQ(server.readLine(), "PRIVMSG #chat :0");
}

// Kicked or refused by the channel, the bot stays on the server and joins
// again later; chat for the channel meanwhile is dropped and counted once.
// Kicks of others and errors about other channels change nothing.
TEST_F(IRCClientTest, KickAndRefusedJoinKeepTheBotOutForAWhileAndDropItsChat) {
    LogCapture log;
    connect(oneLinePerMinute());
    enterChannel();
    for (const char* line : {":op!o@h KICK #chat alice :bye", ":op!o@h KICK #other brivox :bye",
                             ":irc.scripted 474 brivox #other :Cannot join channel (+b)",
                             ":irc.scripted 404 brivox #chat :Cannot send to channel"})
        server.sendLine(line);
    client.sendChat("sent");
    client.sendChat("queued when kicked");
    loop.pass();
    EXPECT_EQ(server.readLine(), "PRIVMSG #chat :sent");
    server.sendLine(":op!o@h KICK #Chat Brivox :behave\x03" "4!");
    ASSERT_TRUE(loop.runUntil([&] { return client.state() == LinkState::OutOfChannel; }));
    EXPECT_TRUE(log.contains("Kicked from #chat by op: behave\\x034!\n"));
    client.sendChat("while away");
    const auto wake = client.nextWakeIn();
    ASSERT_TRUE(wake.has_value());
    EXPECT_GT(*wake, std::chrono::seconds(4));
    EXPECT_LE(*wake, IRCClient::kRejoinPause);
    loop.pass();
    EXPECT_EQ(server.readFor(std::chrono::milliseconds(100)), "");

    server.sendLine(":irc.scripted 474 brivox #chat :Cannot join channel (+b)");
    server.sendLine(":brivox!bot@scripted JOIN #chat");
    ASSERT_TRUE(loop.untilUp());
    EXPECT_TRUE(log.contains("Cannot join #chat: 474 brivox #chat :Cannot join channel (+b)\n"));
    EXPECT_EQ(log.count("IRCClient: dropped 2 lines for #chat while not in it"), 1);
}

TEST(IRCMessage, PrefixCommandParametersAndTrailingText) {
    const IRCMessage kick = parseIRCMessage("@time=x :op!o@h  KICK #chat bot :go away now");
    EXPECT_EQ(kick.prefix, "op!o@h");
    EXPECT_EQ(kick.senderNick(), "op");
    EXPECT_TRUE(kick.fromUser());
    EXPECT_TRUE(kick.is("kick"));
    ASSERT_EQ(kick.paramCount, 3u);
    EXPECT_EQ(kick.param(2), "go away now");
    EXPECT_EQ(kick.param(5), "");
    EXPECT_EQ(kick.number(), 0);
    const IRCMessage numeric = parseIRCMessage("433 * brivox :in use");
    EXPECT_EQ(numeric.prefix, "");
    EXPECT_EQ(numeric.number(), 433);
    EXPECT_EQ(parseIRCMessage(":s 4x3 a").number(), 0);
    EXPECT_EQ(parseIRCMessage("JOIN :").paramCount, 1u);
    EXPECT_EQ(parseIRCMessage(":only-a-prefix").command, "");
    std::string many = "CMD";
    for (int i = 1; i <= 16; ++i)
        many += " p" + std::to_string(i);
    EXPECT_EQ(parseIRCMessage(many).lastParam(), "p15 p16");
    EXPECT_EQ(withoutPrefix(":s 001 b :hi"), "001 b :hi");
    EXPECT_EQ(withoutPrefix(":no-space"), ":no-space");
    EXPECT_TRUE(ircNamesEqual("#Chat[x]\\~", "#chat{X}|^"));
    EXPECT_FALSE(ircNamesEqual("#chat", "#chat2"));
    EXPECT_FALSE(ircNamesEqual("#ch@t", "#ch`t"));
}

// What shapes our lines: the server's case mapping, under which our nick
// and channel are compared (RFC 1459's "[]\\~" like "{}|^"), and our prefix
// as the server shows it to others, which the room for chat leaves out.
TEST_F(IRCClientTest, LearnsTheCaseMappingAndItsOwnPrefix) {
    IRCConfig config = settings();
    config.irc_nick = "Brivox~";
    config.irc_channel = "#Relay[1]";
    connect(config);
    EXPECT_EQ(client.serverView().ownPrefixBytes, 1 + 7 + 1 + 10 + 1 + 63 + 1u);
    server.greet("Brivox~");
    server.sendLine(":irc.scripted 005 Brivox~ NICKLEN=30 CASEMAPPING=ascii CHANTYPES=# :are supported");
    server.sendLine(":irc.scripted 005 Brivox~ CASEMAPPING=rfc1459 :are supported");
    ASSERT_TRUE(loop.runUntil([&] { return client.state() == LinkState::Joining; }));
    EXPECT_EQ(server.readLine(), "JOIN #Relay[1]");
    server.sendLine(":brivox^!~bot@host.example JOIN #relay{1}");
    ASSERT_TRUE(loop.untilUp());
    const std::size_t prefix = std::string(":Brivox~!~bot@host.example ").size();
    EXPECT_EQ(client.serverView().ownPrefixBytes, prefix);
    EXPECT_EQ(client.chatRoom(false), 510 - prefix - std::string("PRIVMSG #Relay[1] :").size());
    EXPECT_EQ(client.chatRoom(true), client.chatRoom(false) - 9);
    server.sendLine(":alice!a@h PRIVMSG #RELAY{1} :under rfc1459");
    server.sendLine(":op!o@h KICK #relay{1} brivox^ :out");
    ASSERT_TRUE(loop.runUntil([&] { return client.state() == LinkState::OutOfChannel; }));
    EXPECT_EQ(loop.chat, std::vector<std::string>{"alice: under rfc1459"});
    server.sendLine(":irc.scripted 005 Brivox~ CASEMAPPING=ascii :are supported");
    loop.runUntil([&] { return false; }, std::chrono::milliseconds(100));
    EXPECT_FALSE(client.sameNick("bot[1]", "BOT{1}"));
    EXPECT_TRUE(client.sameNick("bot[1]", "BOT[1]"));
}

// A link cut by a NAT or a firewall stays "up" for TCP: after a silence we
// ask for a sign of life, and without one the link is given up.
TEST_F(IRCClientTest, ASilentServerIsPingedAndGivenUpWhenItStaysSilent) {
    LogCapture log;
    const Patience patience(std::chrono::milliseconds(300));
    connect(settings());
    enterChannel();
    const auto quiet = std::chrono::steady_clock::now();
    std::string received;
    EXPECT_TRUE(loop.runUntil([&] {
        received += server.readFor(std::chrono::milliseconds(10));
        return received.find("PING :brivox\r\n") != std::string::npos;
    }));
    EXPECT_GE(std::chrono::steady_clock::now() - quiet, std::chrono::milliseconds(400));
    // An answer keeps the link; silence after the next PING ends it.
    server.sendLine(":irc.scripted PONG irc.scripted :brivox");
    loop.pass();
    EXPECT_TRUE(client.isConnected());
    EXPECT_TRUE(loop.untilDown());
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
    client.setConfig(config);
    client.setReconnectDelays(std::chrono::seconds(1), std::chrono::seconds(1));
    const auto openExchange = [&](const std::string& capabilities) {
        ASSERT_TRUE(loop.runUntil([&] { return client.linkOpen(); }, std::chrono::seconds(5)));
        server.accept();
        EXPECT_EQ(server.readLine(), "CAP LS 302");
        EXPECT_EQ(server.readLine(), "NICK brivox");
        EXPECT_EQ(server.readLine(), "USER brivox 0 * :brivox gate bot");
        server.sendLine(":irc.scripted CAP * LS * :multi-prefix away-notify");
        std::string rest = capabilities;
        for (std::size_t space; rest.size() > 400 && (space = rest.rfind(' ', 400)) != std::string::npos;
             rest.erase(0, space + 1))
            server.sendLine(":irc.scripted CAP * LS * :" + rest.substr(0, space));
        server.sendLine(":irc.scripted CAP * LS :" + rest);
        loop.runUntil([&] { return false; }, std::chrono::milliseconds(100));
    };
    const auto authenticate = [&] {
        EXPECT_EQ(server.readLine(), "CAP REQ :sasl");
        server.sendLine(":irc.scripted CAP * ACK :sasl");
        loop.runUntil([&] { return false; }, std::chrono::milliseconds(100));
        EXPECT_EQ(server.readLine(), "AUTHENTICATE PLAIN");
        server.sendLine("AUTHENTICATE +");
        loop.runUntil([&] { return false; }, std::chrono::milliseconds(100));
        EXPECT_EQ(server.readLine(), "AUTHENTICATE YnJpZGdlAGJyaWRnZQBzM2NyZXQgcGFzcw==");
    };
    // A server with many capabilities lists them over several lines.
    std::string many;
    for (int i = 0; many.size() < 6000; ++i)
        many += "vendor.example/capability-" + std::to_string(i) + " ";
    openExchange(many + "sasl=PLAIN,EXTERNAL");
    authenticate();
    server.sendLine(":irc.scripted 900 brivox brivox!bot@host bridge :You are now logged in as bridge");
    server.sendLine(":irc.scripted 903 brivox :SASL authentication successful");
    loop.runUntil([&] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(server.readLine(), "CAP END");
    EXPECT_TRUE(log.contains("SASL PLAIN log-in as bridge accepted\n"));
    server.sendLine(":irc.scripted 001 brivox :Welcome");
    loop.runUntil([&] { return client.state() == LinkState::Joining; });
    EXPECT_EQ(server.readLine(), "JOIN #chat k3y");
    client.close();

    openExchange("sasl");
    authenticate();
    server.sendLine(":irc.scripted 904 brivox :SASL authentication failed");
    EXPECT_TRUE(loop.untilDown());
    EXPECT_EQ(server.readLine(), "QUIT");
    EXPECT_TRUE(log.contains("IRCClient: log-in given up: SASL log-in as bridge failed: the server refused the "
                             "log-in: \"904 brivox :SASL authentication failed\"\n"));

    openExchange("multi-prefix");
    EXPECT_TRUE(loop.untilDown());
    EXPECT_EQ(server.readLine(), "QUIT");
    EXPECT_TRUE(log.contains("failed: the server does not offer SASL; it offers \"multi-prefix away-notify multi-prefix\"\n"));

    // A list past the bound is cut, and the log says so.
    std::string endless;
    while (endless.size() < 70 * 1024)
        endless += "vendor.example/capability-" + std::to_string(endless.size()) + " ";
    openExchange(endless + "sasl");
    EXPECT_TRUE(loop.untilDown());
    EXPECT_TRUE(log.contains("failed: the server's list of capabilities is longer than 65536 bytes, and SASL is not "
                             "in the part kept\n"));
}

// Relayed nicks are asked for in a REQ of their own, so that a refusal
// takes nothing from SASL, and asked for again at the next log-in. Granted,
// each relayed line is answered in turn: seen back (not chat), or refused,
// and then said in the bot's form: for that nick (a refused nick) or for
// all (no rights). Another relay's lines are chat like anyone's.
TEST_F(IRCClientTest, RelayedNicksAreAskedForApartAndWhatTheServerRefusesGoesOutAsTheBots) {
    LogCapture log;
    IRCConfig config = settings();
    config.irc_sasl_user = "bridge";
    config.irc_sasl_password = "pw";
    config.irc_relaymsg = "yes";
    config.irc_line_interval = 0;
    client.setConfig(config);
    client.setReconnectDelays(std::chrono::seconds(1), std::chrono::seconds(1));
    const auto settle = [&] { loop.runUntil([&] { return false; }, std::chrono::milliseconds(100)); };
    const auto logIn = [&](const std::string& relayAnswer) {
        ASSERT_TRUE(loop.runUntil([&] { return client.linkOpen(); }, std::chrono::seconds(5)));
        server.accept();
        for (const char* line : {"CAP LS 302", "NICK brivox", "USER brivox 0 * :brivox gate bot"})
            EXPECT_EQ(server.readLine(), line);
        server.sendLine(":irc.scripted CAP * LS :draft/relaymsg=/+ message-tags sasl");
        settle();
        EXPECT_EQ(server.readLine(), "CAP REQ :draft/relaymsg message-tags");
        EXPECT_EQ(server.readLine(), "CAP REQ :sasl");
        server.sendLine(":irc.scripted CAP * " + relayAnswer + " :draft/relaymsg message-tags");
        server.sendLine(":irc.scripted CAP * ACK :sasl");
        settle();
        EXPECT_EQ(server.readLine(), "AUTHENTICATE PLAIN");
        server.sendLine("AUTHENTICATE +");
        settle();
        server.readLine();
        server.sendLine(":irc.scripted 903 brivox :SASL authentication successful");
        settle();
        EXPECT_EQ(server.readLine(), "CAP END");
        server.sendLine(":irc.scripted 001 brivox :Welcome");
        server.sendLine(":irc.scripted 005 brivox NICKLEN=12 :are supported by this server");
        settle();
        server.confirmJoin("brivox");
        ASSERT_TRUE(loop.untilUp());
    };
    const auto relay = [&](const std::string& speaker, const std::string& text) {
        const std::string tagged = "<" + speaker + "> " + text;
        client.sendChat(tagged, false, Attribution{speaker, speaker.size() + 3});
        settle();
    };

    logIn("NAK");
    EXPECT_TRUE(log.contains("hub chat goes out as the bot's until the next log-in: the server refused "
                             "draft/relaymsg: \"CAP * NAK :draft/relaymsg message-tags\"\n"));
    relay("carol", "hi");
    EXPECT_EQ(server.readLine(), "PRIVMSG #chat :<carol> hi");
    client.close();

    logIn("ACK");
    relay("carol", "one");
    relay("carol", "/me is not an action here");
    relay("averyverylongnick", "two");
    relay("dave", "three");
    EXPECT_EQ(server.readLine(), "RELAYMSG #chat carol/dc :one");
    EXPECT_EQ(server.readLine(), "RELAYMSG #chat carol/dc :/me is not an action here");
    EXPECT_EQ(server.readLine(), "RELAYMSG #chat averyvery/dc :two");
    EXPECT_EQ(server.readLine(), "RELAYMSG #chat dave/dc :three");
    for (const char* answer : {"@draft/relaymsg=brivox :carol/dc!~u@h PRIVMSG #chat :one",
                               "@draft/relaymsg=brivox :carol/dc!~u@h PRIVMSG #chat :/me is not an action here",
                               ":irc.scripted FAIL RELAYMSG INVALID_NICK :Invalid nickname",
                               "@draft/relaymsg=otherbot :eve/tg!~u@h PRIVMSG #chat :from elsewhere",
                               ":irc.scripted FAIL RELAYMSG PRIVS_NEEDED :You cannot relay messages to this channel"})
        server.sendLine(answer);
    settle();
    EXPECT_EQ(server.readLine(), "PRIVMSG #chat :<averyverylongnick> two");
    EXPECT_EQ(server.readLine(), "PRIVMSG #chat :<dave> three");
    EXPECT_EQ(loop.chat, std::vector<std::string>{"eve/tg: from elsewhere"});
    relay("carol", "four");
    EXPECT_EQ(server.readLine(), "PRIVMSG #chat :<carol> four");
    EXPECT_TRUE(log.contains("the server refused the relayed nick \"averyvery/dc\""));
    EXPECT_TRUE(log.contains("hub chat goes out as the bot's until the next log-in: the server refused a relayed "
                             "line: \"FAIL RELAYMSG PRIVS_NEEDED :You cannot relay messages to this channel\"\n"));
    client.close();

    // A server that knows no CAP registers the bot all the same.
    config.irc_sasl_user.clear();
    config.irc_sasl_password.clear();
    client.setConfig(config);
    ASSERT_TRUE(loop.runUntil([&] { return client.linkOpen(); }, std::chrono::seconds(5)));
    server.accept();
    EXPECT_EQ(server.readLine(), "CAP LS 302");
    server.sendLine(":irc.scripted 421 * CAP :Unknown command");
    enterChannel();
    EXPECT_TRUE(log.contains("until the next log-in: the server does not negotiate capabilities"));
}

// What no nick may hold becomes '_', as does a first byte that reads as a
// channel or a mode; the nick is cut to the server's length at a
// character's end, keeping one character however long the suffix.
TEST(RelayedNick, HoldsOnlyWhatANickMayAndFitsTheServersLength) {
    EXPECT_EQ(relayedNick("carol", "/", "dc", 30), "carol/dc");
    EXPECT_EQ(relayedNick("a b,c*d?e.f!g@h:i\x01j", "/", "dc", 30), "a_b_c_d_e_f_g_h_i_j/dc");
    EXPECT_EQ(relayedNick("#ops", "/", "dc", 30), "_ops/dc");
    EXPECT_EQ(relayedNick("-x", "/", "", 30), "_x/");
    EXPECT_EQ(relayedNick("", "/", "dc", 30), "_/dc");
    EXPECT_EQ(relayedNick("J\xc3\xa9r\xc3\xb4me", "/", "dc", 6), "J\xc3\xa9/dc");
    EXPECT_EQ(relayedNick("\xc3\xa9t\xc3\xa9", "/", "longsuffix", 4), "\xc3\xa9/longsuffix");
}
