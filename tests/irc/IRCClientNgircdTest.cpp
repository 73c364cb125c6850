#include <gtest/gtest.h>

#include <cstdlib>

#include "Eventually.h"
#include "IrcUser.h"
#include "LogCapture.h"
#include "NgircdRunner.h"
#include "TestCertificates.h"
#include "irc/IRCClient.h"
#include "net/TlsSession.h"

namespace {

class IRCClientNgircdTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!NgircdRunner::available())
            GTEST_SKIP() << "ngircd is not installed";
        server = std::make_unique<NgircdRunner>();
    }
    IRCConfig settings() {
        IRCConfig config;
        config.irc_port = server->port();
        return config;
    }
    // Keeps reading the bot's side, as the relay loop would, until done().
    template <typename Done>
    bool pump(IRCClient& client, Done done) {
        std::string line;
        return eventually([&] {
            while (client.getMessage(line)) {
            }
            return done();
        }, std::chrono::seconds(10));
    }

    // The bot's JOIN as user sees it, reading the bot's side meanwhile until
    // the bot has the server's confirmation too.
    std::string joinSeenBy(IRCClient& bot, IrcUser& user) {
        std::string joined;
        pump(bot, [&] {
            try {
                joined = user.waitFor("JOIN", std::chrono::milliseconds(50));
                return true;
            } catch (const std::exception&) {
                return false;
            }
        });
        pump(bot, [&] { return bot.state() == LinkState::InChannel; });
        return joined;
    }

    std::unique_ptr<NgircdRunner> server;
};

}  // namespace

TEST_F(IRCClientNgircdTest, BotJoinsTheChannelAndSpeaksInIt) {
    IrcUser alice(server->port(), "alice");
    alice.join("#chat");
    IRCClient bot;
    ASSERT_TRUE(bot.setConfig(settings()));
    ASSERT_TRUE(bot.Connect());
    const std::string joined = joinSeenBy(bot, alice);
    EXPECT_EQ(joined.rfind(":brivox!", 0), 0u) << joined;
    bot.sendMessage("PRIVMSG #chat :hello from the bot");
    bot.tick();
    EXPECT_NE(alice.waitFor("PRIVMSG #chat").find(":hello from the bot"), std::string::npos);
}

TEST_F(IRCClientNgircdTest, TakenNickEndsUpInTheChannelWithAnUnderscore) {
    LogCapture log;
    IrcUser holder(server->port(), "brivox");
    holder.join("#chat");
    IRCClient bot;
    ASSERT_TRUE(bot.setConfig(settings()));
    ASSERT_TRUE(bot.Connect());
    const std::string joined = joinSeenBy(bot, holder);
    EXPECT_EQ(joined.rfind(":brivox_!", 0), 0u) << joined;
    EXPECT_EQ(bot.getConfig().irc_nick, "brivox_");
    EXPECT_TRUE(log.contains("Nickname \"brivox\" already in use"));
    bot.sendMessage("PRIVMSG #chat :I made it");
    bot.tick();
    EXPECT_NE(holder.waitFor("PRIVMSG #chat").find("I made it"), std::string::npos);
}

TEST_F(IRCClientNgircdTest, ServerGoingAwayLogsTheBotOut) {
    IRCClient bot;
    ASSERT_TRUE(bot.setConfig(settings()));
    ASSERT_TRUE(bot.Connect());
    server->stop();
    EXPECT_TRUE(pump(bot, [&] { return !bot.isConnected(); }));
}

// ngircd's TLS port with a certificate from a throw-away authority: refused
// while the authority is unknown, accepted with checks turned off, verified
// once the trust store holds the authority; the same handshake in each case.
TEST_F(IRCClientNgircdTest, TlsChecksTheCertificateUnlessToldNotTo) {
    if (!TlsSession::available() || !TestCertificates::available())
        GTEST_SKIP() << "built without TLS, or no openssl command";
    LogCapture log;
    TestCertificates certificates;
    NgircdOptions options;
    options.tls = &certificates;
    server = std::make_unique<NgircdRunner>(options);
    IRCConfig config = settings();
    config.irc_port = server->tlsPort();
    config.irc_tls = "yes";
    IRCClient bot;
    unsetenv("SSL_CERT_FILE");
    ASSERT_TRUE(bot.setConfig(config));
    EXPECT_FALSE(bot.Connect());
    EXPECT_TRUE(log.contains("Connection::Connect(): TLS handshake with 127.0.0.1 failed: "));
    EXPECT_TRUE(log.contains("certificate verify failed"));
    EXPECT_TRUE(log.contains("IRCClient::Connect(): cann't connect to requested address\n"));

    config.irc_tls_verify = "no";
    ASSERT_TRUE(bot.setConfig(config));
    ASSERT_TRUE(bot.Connect());
    EXPECT_TRUE(log.contains("IRCClient::Connect(): irc_tls_verify is no: the server's certificate is not checked\n"));
    EXPECT_TRUE(pump(bot, [&] { return bot.state() == LinkState::InChannel; }));
    bot.Disconnect();

    config.irc_tls_verify = "yes";
    setenv("SSL_CERT_FILE", certificates.authority().c_str(), 1);
    ASSERT_TRUE(bot.setConfig(config));
    const bool verified = bot.Connect();
    unsetenv("SSL_CERT_FILE");
    ASSERT_TRUE(verified);
    EXPECT_TRUE(log.contains(", certificate verified\n"));
    IrcUser alice(server->port(), "alice");
    alice.join("#chat");
    bot.sendMessage("PRIVMSG #chat :over TLS");
    pump(bot, [&] { return bot.state() == LinkState::InChannel; });
    bot.tick();
    EXPECT_NE(alice.waitFor("PRIVMSG #chat").find(":over TLS"), std::string::npos);
}

// ngircd negotiates capabilities but has no SASL: the attempt ends with its
// answer, and the bot says QUIT instead of logging in without SASL.
TEST_F(IRCClientNgircdTest, SaslAgainstAServerWithoutItEndsTheAttemptCleanly) {
    LogCapture log;
    IRCConfig config = settings();
    config.irc_sasl_user = "bridge";
    config.irc_sasl_password = "secret";
    IRCClient bot;
    ASSERT_TRUE(bot.setConfig(config));
    ASSERT_TRUE(bot.Connect());
    EXPECT_TRUE(pump(bot, [&] { return bot.state() == LinkState::Down; }));
    EXPECT_TRUE(log.contains("IRCClient: SASL log-in as bridge failed: the server does not offer SASL; it offers \""));
    EXPECT_TRUE(eventually([&] { return server->log().find("Got QUIT command") != std::string::npos; }))
        << server->log();
}
