#include <gtest/gtest.h>

#include "Eventually.h"
#include "IrcUser.h"
#include "LogCapture.h"
#include "NgircdRunner.h"
#include "irc/IRCClient.h"

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
