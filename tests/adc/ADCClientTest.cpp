// The ADC client against a scripted hub, for what uhub does not do on
// purpose: a hub that names a wait before the next log-in, or one that
// sends what a hub should not.
#include <gtest/gtest.h>

#include <future>

#include "ClientLoop.h"
#include "LogCapture.h"
#include "ScriptedServer.h"
#include "adc/ADCClient.h"
#include "adc/adcEscapes.h"
#include "adc/tiger.h"
#include "net/base32.h"

namespace {

class ScriptedAdcHub : public ScriptedServer {
public:
    ScriptedAdcHub() : ScriptedServer("scripted ADC hub") {}
    std::string readLine() { return socket().readUntil("\n"); }
    void send(const std::string& line) { socket().send(line + "\n"); }
};

class ADCClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!tigerAvailable())
            GTEST_SKIP() << "built without ADC";
        DCConfig config;
        config.dc_server = "adc://127.0.0.1:" + std::to_string(hub.port());
        config.dc_message_interval = 0;
        // A message as large as the bot allows, beyond what one ADC line
        // carries.
        config.dc_message_max_bytes = 64 * 1024;
        config.dc_message_max_lines = 1000;
        client.setConfig(config);
        client.setReconnectDelays(std::chrono::seconds(1), std::chrono::seconds(1));
    }
    // The hub's side of a log-in up to the bot's INF, which it returns.
    std::string greet() {
        EXPECT_EQ(hub.readLine(), "HSUP ADBASE ADTIGR");
        hub.send("ISUP ADBASE ADTIGR");
        hub.send("ISID AAAB");
        hub.send("IINF CT32 VEuhub/0.4.1-release NIhub");
        return hub.readLine();
    }
    template <typename Script>
    void play(Script script) {
        std::future<void> hubSide = std::async(std::launch::async, [&] {
            hub.accept();
            script();
        });
        loop.runWhile(hubSide);
    }

    ScriptedAdcHub hub;
    ADCClient client;
    ClientLoop loop{client};
};

}  // namespace

// The log-in as a hub sees it; then only other users' main chat is chat,
// and what the bot says leaves out what an old uhub would drop the whole
// message for. A QUI with TL keeps the next attempt away that long.
TEST_F(ADCClientTest, SessionOnAnOldUhubAndAGoodbyeWithAWait) {
    LogCapture log;
    play([&] {
        const std::string info = greet();
        const std::string pid = base32Decode(info.substr(info.find(" PD") + 3, 39)).value();
        EXPECT_EQ(info.substr(0, 48), "BINF AAAB ID" + base32Encode(tigerHash(pid)).substr(0, 36));
        EXPECT_NE(info.find(" NIbrivox DEbrivox\\sgate\\sbot VEbrivox\\s"), std::string::npos) << info;
        hub.send("BINF AAAC IDX NIcar\\sol");
        hub.send(info.substr(0, info.find(" PD")) + " NIbrivox CT1");
    });
    ASSERT_TRUE(loop.untilUp()) << log.text();
    EXPECT_EQ(client.privateId().size(), 24u);
    for (const char* line : {"IGPA AAAAAAAAAAAAAAAA", "BMSG AAAB <x>\\sour\\secho", "EMSG AAAC AAAB private PMAAAC", "IMSG hub\\stalk",
                             "BMSG AAAD nobody\\sknown", "BMSG AAAC bad\\xescape", "DMSG AAAC AAAB direct",
                             "BINF AAAC NIcarol", "BMSG AAAC says\\sthis\\nand\\\\that", "BMSG AAAC waves ME1"})
        hub.send(line);
    ASSERT_TRUE(loop.runUntil([&] { return loop.chat.size() == 2; }));
    EXPECT_EQ(loop.chat, (std::vector<std::string>{"carol: says this\nand\\that", "* carol waves"}));
    // A rename to a nick no hub allows: that user is no one's any more.
    for (const std::string& line : {"BINF AAAC NI" + std::string(300, 'x'), std::string("BMSG AAAC unheard"),
                                    std::string("BINF AAAD IDY NIdave"), std::string("BMSG AAAD heard")})
        hub.send(line);
    ASSERT_TRUE(loop.runUntil([&] { return loop.chat.size() == 3; }));
    EXPECT_EQ(loop.chat.back(), "dave: heard");
    EXPECT_TRUE(log.contains("ADCClient: ignored a password request outside the log-in"));

    client.sendChat("<alice> \x02" "bold\x02 \xf0\x9f\x98\x80 caf\xe9 tab\there");
    EXPECT_EQ(hub.readLine(), "BMSG AAAB <alice>\\sbold\\s\xef\xbf\xbd\\scaf\xef\xbf\xbd\\stab\there");
    // A message longer than a hub takes in one line goes in parts, each
    // one line, sent in turn.
    std::string longText = "first";
    while (longText.size() < 6000)
        longText += "\nline " + std::to_string(longText.size()) + " with  some words";
    client.sendChat(longText);
    std::string joined;
    while (joined.size() < longText.size()) {
        const std::string line = hub.readLine();
        EXPECT_LT(line.size(), 4096u);
        std::string text;
        ASSERT_TRUE(adcUnescape(line.substr(10), text));
        joined += text;
    }
    EXPECT_EQ(joined, longText);

    hub.send("ISTA 231 Banned\\sfor\\snow TL600");
    hub.send("IQUI AAAB MSBanned\\sfor\\snow TL3");
    ASSERT_TRUE(loop.untilDown());
    EXPECT_TRUE(log.contains("ADCClient: the hub says 231 Banned for now"));
    EXPECT_TRUE(log.contains("ADCClient: the hub closed our session: Banned for now"));
    EXPECT_TRUE(log.contains("Trying to reconnect... in 3 s")) << log.text();
}

// A log-in refused with a wait passes: the attempt ends "for now", and a
// first log-in refused so does not end the run.
TEST_F(ADCClientTest, ALogInRefusedWithAWaitIsRefusedForNow) {
    LogCapture log;
    play([&] {
        greet();
        hub.send("ISTA 231 Reconnecting\\stoo\\sfast TL0");
        hub.send("IQUI AAAB TL0 MSReconnecting\\stoo\\sfast");
    });
    ASSERT_TRUE(loop.untilDown());
    EXPECT_TRUE(client.refusedForNow());
    EXPECT_TRUE(log.contains("ADCClient: log-in refused for now: the hub said \"Reconnecting too fast\"; trying again"))
        << log.text();
}
