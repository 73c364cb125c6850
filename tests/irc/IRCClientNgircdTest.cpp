#include <gtest/gtest.h>

#include <cstdlib>

#include "ClientLoop.h"
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

    std::unique_ptr<NgircdRunner> server;
    IRCClient bot;
    ClientLoop loop{bot};
};

}  // namespace

// Into the channel as the nick the server gave: with "_" while its holder
// is there; the lines the bot says reach the others; a server that goes
// away takes the bot down.
TEST_F(IRCClientNgircdTest, TakenNickEndsUpInTheChannelWithAnUnderscoreAndSpeaksThere) {
    LogCapture log;
    IrcUser holder(server->port(), "brivox");
    holder.join("#chat");
    bot.setConfig(settings());
    ASSERT_TRUE(loop.untilUp());
    EXPECT_EQ(holder.waitFor("JOIN").rfind(":brivox_!", 0), 0u);
    EXPECT_EQ(bot.getConfig().irc_nick, "brivox_");
    EXPECT_TRUE(log.contains("Nickname \"brivox\" already in use"));
    bot.sendChat("I made it");
    loop.pass();
    EXPECT_NE(holder.waitFor("PRIVMSG #chat").find(":I made it"), std::string::npos);
    holder.say("#chat", "welcome");
    EXPECT_TRUE(loop.runUntil([&] { return loop.chat == std::vector<std::string>{"brivox: welcome"}; }));
    server->stop();
    EXPECT_TRUE(loop.untilDown());
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
    unsetenv("SSL_CERT_FILE");
    bot.setConfig(config);
    bot.setReconnectDelays(std::chrono::seconds(1), std::chrono::seconds(1));
    EXPECT_FALSE(loop.open());
    EXPECT_TRUE(log.contains("Connection::Connect(): TLS handshake with 127.0.0.1 failed: "));
    EXPECT_TRUE(log.contains("certificate verify failed"));
    EXPECT_TRUE(log.contains("IRCClient::Connect(): cann't connect to requested address\n"));

    config.irc_tls_verify = "no";
    bot.setConfig(config);
    ASSERT_TRUE(loop.untilUp());
    EXPECT_TRUE(log.contains("IRCClient::Connect(): irc_tls_verify is no: the server's certificate is not checked\n"));
    bot.close();

    config.irc_tls_verify = "yes";
    setenv("SSL_CERT_FILE", certificates.authority().c_str(), 1);
    bot.setConfig(config);
    const bool verified = loop.open();
    unsetenv("SSL_CERT_FILE");
    ASSERT_TRUE(verified);
    EXPECT_TRUE(log.contains(", certificate verified\n"));
    IrcUser alice(server->port(), "alice");
    alice.join("#chat");
    bot.sendChat("over TLS");
    ASSERT_TRUE(loop.untilUp());
    loop.pass();
    EXPECT_NE(alice.waitFor("PRIVMSG #chat").find(":over TLS"), std::string::npos);
}

// ngircd negotiates capabilities but has no SASL: the attempt ends with its
// answer, and the bot says QUIT instead of logging in without SASL.
TEST_F(IRCClientNgircdTest, SaslAgainstAServerWithoutItEndsTheAttemptCleanly) {
    LogCapture log;
    IRCConfig config = settings();
    config.irc_sasl_user = "bridge";
    config.irc_sasl_password = "secret";
    bot.setConfig(config);
    ASSERT_TRUE(loop.open());
    EXPECT_TRUE(loop.untilDown());
    EXPECT_TRUE(log.contains("IRCClient: log-in given up: SASL log-in as bridge failed: the server does not offer "
                             "SASL; it offers \""));
    EXPECT_TRUE(eventually([&] { return server->log().find("Got QUIT command") != std::string::npos; }))
        << server->log();
}
