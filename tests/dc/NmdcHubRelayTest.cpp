// The real brivox binary between a real ngircd and an NMDC hub: the
// scripted hub, PtokaX or Verlihub, each with its default rules. alice is
// in the channel; on the hub a user speaks (carol on the scripted hub,
// testop on the real ones, whose operator status spares the test the
// hubs' limits on its own chat).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "Eventually.h"
#include "IrcUser.h"
#include "NgircdRunner.h"
#include "NmdcHubRunner.h"
#include "NmdcUser.h"
#include "ProcessRunner.h"
#include "ScriptedHub.h"
#include "SharedPeers.h"
#include "TempDir.h"

namespace {

enum class HubKind { Scripted, PtokaX, Verlihub };

std::string kindName(const ::testing::TestParamInfo<HubKind>& info) {
    return info.param == HubKind::Scripted ? "Scripted" : info.param == HubKind::PtokaX ? "PtokaX" : "Verlihub";
}

NmdcHubKind realKind(HubKind kind) { return kind == HubKind::PtokaX ? NmdcHubKind::PtokaX : NmdcHubKind::Verlihub; }

// The lines of a message of the bot, each without the bot's tag, which
// every line after the first carries too.
std::vector<std::string> linesOf(const std::string& message, const std::string& botNick) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = message.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(message.substr(start, end - start));
    lines.push_back(message.substr(start));
    const std::string tag = "<" + botNick + "> ";
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].rfind(tag, 0), 0u) << message;
        lines[i].erase(0, tag.size());
    }
    return lines;
}

class NmdcHubRelayTest : public ::testing::TestWithParam<HubKind> {
protected:
    void SetUp() override {
        if (!NgircdRunner::available())
            GTEST_SKIP() << "ngircd is not installed";
        if (real())
            SKIP_WITHOUT_SHARED_PEER(NmdcHubRunner::whyUnavailable(realKind(GetParam())));
        irc = std::make_unique<NgircdRunner>(false);
        alice = std::make_unique<IrcUser>(irc->port(), "alice");
        alice->join("#chat");
    }
    void TearDown() override {
        if (HasFailure()) {
            std::fprintf(stderr, "brivox said:\n%s\n", brivox.stderrText().c_str());
            if (hub)
                std::fprintf(stderr, "the hub said:\n%s\n", hub->log().substr(0, 20000).c_str());
        }
    }

    bool real() const { return GetParam() != HubKind::Scripted; }
    std::string speaker() const { return real() ? "testop" : "carol"; }
    void startHub(const std::string& settings = "") {
        if (real())
            hub = std::make_unique<NmdcHubRunner>(realKind(GetParam()), settings);
    }
    int hubPort() const { return real() ? hub->port() : scripted.port(); }
    std::string config(const std::string& extra) const {
        return "irc_port = " + std::to_string(irc->port()) + "\ndc_port = " + std::to_string(hubPort()) +
               "\nirc_line_interval = 0\nreconnect_delay_min = 1\n" + (real() ? "" : "dc_message_interval = 0\n") +
               extra;
    }
    // brivox in, and the hub's speaker on the hub, who was there first.
    void startRelay(const std::string& extra = "") {
        if (real())
            user = std::make_unique<NmdcUser>(hub->port(), "testop", "oppass");
        const auto started = std::chrono::steady_clock::now();
        brivox.start(brivoxBinary(), {"-d", "-c", dir.write("brivox.conf", config(extra))});
        if (!real()) {
            scripted.accept();
            HubLoginScript login;
            login.usersPresent = {"carol"};
            scripted.login(login);
        }
        ASSERT_TRUE(brivox.waitForStderr("Logged in to the hub as " + botNick, std::chrono::seconds(20)));
        logInTime = std::chrono::steady_clock::now() - started;
        alice->waitFor(":brivox!", std::chrono::seconds(20));
    }
    void speakerSays(const std::string& text) {
        if (real())
            user->say(text);
        else
            scripted.userSays("carol", text);
    }
    // The next message of the bot in the main chat, without its tag.
    std::string botSays(std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
        if (!real())
            return scripted.readChat(deadline).substr(9);
        for (;;) {
            const std::string chat = user->readChat(deadline);
            if (chat.rfind("<" + botNick + "> ", 0) == 0)
                return chat.substr(botNick.size() + 3);
        }
    }
    std::string channelText() {
        const std::string line = alice->waitFor("PRIVMSG #chat");
        return line.substr(line.find("PRIVMSG #chat :") + 15);
    }
    // Says lines in the channel at once and reads what reaches the hub:
    // the messages, each checked against the hub's default bounds.
    // What the hubs tell a user whose chat they refuse or who floods.
    void expectNoRefusal() {
        const std::string log = brivox.stderrText();
        for (const char* words : {"wasn't sent", "too long", "maximum allowed", "Please wait", "flood", "banned"})
            EXPECT_EQ(log.find(words), std::string::npos) << log;
        EXPECT_TRUE(brivox.running());
    }
    // Says lines in the channel at once; they reach the hub whole and in
    // order. The messages they took, and how long, are printed.
    std::size_t burstFromIrc(int count, const char* who) {
        const auto start = std::chrono::steady_clock::now();
        std::string burst;
        for (int i = 1; i <= count; ++i)
            burst += "PRIVMSG #chat :burst line " + std::to_string(i) + "\r\n";
        alice->sendLine(burst.substr(0, burst.size() - 2));
        std::vector<std::string> lines;
        std::size_t messages = 0;
        while (lines.size() < static_cast<std::size_t>(count)) {
            for (const std::string& line : linesOf(botSays(std::chrono::seconds(20)), botNick))
                lines.push_back(line);
            ++messages;
        }
        for (int i = 1; i <= count; ++i)
            EXPECT_EQ(lines[i - 1], "<alice> burst line " + std::to_string(i));
        std::printf("%s: %d lines reached the hub in %zu messages, the last after %.2f s\n", who, count, messages,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        return messages;
    }

    TempDir dir;
    std::unique_ptr<NgircdRunner> irc;
    std::unique_ptr<IrcUser> alice;
    ScriptedHub scripted;
    std::unique_ptr<NmdcHubRunner> hub;
    std::unique_ptr<NmdcUser> user;
    ProcessRunner brivox;
    std::string botNick = "brivox";  // the bot's nick on the hub
    std::chrono::duration<double> logInTime{};  // from the start to "Logged in"
};

class RealNmdcHubTest : public NmdcHubRelayTest {};

}  // namespace

// Text crosses both ways as said, in messages the hub takes; an action
// both ways; someone who was on the hub before the bot is named in its
// answer; the hub's own words to the bot (its greeting, with the bot's
// address on Verlihub) stay on the hub.
TEST_P(NmdcHubRelayTest, ChatCrossesBothWaysAndTheHubsWordsStayThere) {
    startHub();
    startRelay();
    const std::vector<std::string> texts = {"hello hub", "pipe | dollar $ percent %s %n", "colons: a:b :c",
                                            "typed &amp; and &#124; and & alone", "caf\xc3\xa9"};
    std::string said;
    for (const std::string& text : texts)
        said += "PRIVMSG #chat :" + text + "\r\n";
    // A client that writes Latin-1 is read as CP1252, on IRC's side.
    alice->sendLine(said + "PRIVMSG #chat :caf\xe9 \x80\r\nPRIVMSG #chat :\x01" "ACTION waves \x02" "bold\x02\x01");
    std::vector<std::string> received;
    while (received.size() < texts.size() + 2)
        for (const std::string& line : linesOf(botSays(), botNick))
            received.push_back(line);
    for (std::size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(received[i], "<alice> " + texts[i]);
    EXPECT_EQ(received[texts.size()], "<alice> caf\xc3\xa9 \xe2\x82\xac");
    EXPECT_EQ(received.back(), "* alice waves bold");

    const std::string tag = "<" + speaker() + "> ";
    for (const std::string& text : {std::string("hello channel"), std::string("pipe | dollar $ and &#124;")}) {
        speakerSays(text);
        EXPECT_EQ(channelText(), tag + text);
    }
    speakerSays("/me waves back");
    EXPECT_EQ(channelText(), "\x01" "ACTION <" + speaker() + "> waves back\x01");

    alice->say("brivox", "who is there?");
    std::string answer;
    for (int i = 0; i < 3; ++i)
        answer += alice->waitFor("NOTICE alice :") + "\n";
    EXPECT_NE(answer.find("(1): " + speaker()), std::string::npos) << answer;

    const std::string seen = alice->linesFor(std::chrono::milliseconds(500));
    for (const char* hubWords : {"PtokaX", "Verlihub", "127.0.0.1", "Hub-Security"})
        EXPECT_EQ(seen.find(hubWords), std::string::npos) << seen;
}

// 30 lines said at once in the channel reach the hub whole and in order,
// in messages within both hubs' default bounds (256 bytes, 5 lines, one
// message every 3 s), and the hub neither warns nor bans the bot.
TEST_P(NmdcHubRelayTest, BurstFromIrcPassesTheHubsDefaultRules) {
    startHub();
    startRelay(real() ? "" : "dc_message_interval = 3000\n");
    EXPECT_LE(burstFromIrc(30, "unregistered"), 8u);
    expectNoRefusal();
}

// A line longer than a hub takes from its users goes in several messages,
// each with the speaker.
TEST_P(NmdcHubRelayTest, LongIrcLineGoesInSeveralMessages) {
    startHub();
    startRelay();
    std::string text;
    for (int i = 0; text.size() < 400; ++i)
        text += "word" + std::to_string(i) + " ";
    text.pop_back();
    alice->say("#chat", text);
    std::string received;
    while (received.size() < text.size()) {
        const std::string message = botSays();
        EXPECT_LE(message.size(), 256u);
        ASSERT_EQ(message.rfind("<alice> ", 0), 0u) << message;
        received += (received.empty() ? "" : " ") + message.substr(8);
    }
    EXPECT_EQ(received, text);
}

INSTANTIATE_TEST_SUITE_P(HubKinds, NmdcHubRelayTest,
                         ::testing::Values(HubKind::Scripted, HubKind::PtokaX, HubKind::Verlihub), kindName);

// Registered as an operator (opbot), the bot may lift its own bounds: the
// burst goes out at once.
TEST_P(RealNmdcHubTest, BurstAsOperatorWithTheBoundsLifted) {
    startHub();
    botNick = "opbot";
    startRelay("dc_nick = opbot\ndc_pass = botpass\ndc_message_interval = 0\ndc_message_max_bytes = 65536\n"
               "dc_message_max_lines = 1000\n");
    burstFromIrc(30, "as operator");
    expectNoRefusal();
}

// Restarted at once, as a supervisor does, the bot meets the hub's wait
// for a nick that just left: it logs in again once the wait named has
// passed, instead of ending the run. A kick by an operator is a lost
// session; what the hub then says is a wait too (PtokaX bans the kicked
// nick for its default temporary ban, shortened here to a minute).
TEST_P(RealNmdcHubTest, RestartWithinTheHubsWaitAndAKick) {
    startHub(GetParam() == HubKind::PtokaX ? "MinReConnTime\t=\t4\nDefaultTempBanTime\t=\t1" : "int_login=5");
    startRelay();
    std::printf("log-in took %.2f s\n", logInTime.count());
    const auto said = std::chrono::steady_clock::now();
    alice->say("#chat", "latency probe");
    EXPECT_EQ(botSays(), "<alice> latency probe");
    std::printf("IRC to hub: %.3f s\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - said).count());
    const auto spoken = std::chrono::steady_clock::now();
    speakerSays("latency probe back");
    EXPECT_EQ(channelText(), "<testop> latency probe back");
    std::printf("hub to IRC: %.3f s\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - spoken).count());

    brivox.stop();
    ProcessRunner again;
    again.start(brivoxBinary(), {"-d", "-c", dir.file("brivox.conf")});
    ASSERT_TRUE(again.waitForStderr("DCClient: log-in refused for now: the hub said ", std::chrono::seconds(10)))
        << again.stderrText();
    ASSERT_TRUE(again.waitForStderr("Logged in to the hub as brivox", std::chrono::seconds(20))) << again.stderrText();
    EXPECT_EQ(again.stderrText().find("ERROR"), std::string::npos) << again.stderrText();

    speakerSays("welcome back");
    EXPECT_EQ(channelText(), "<testop> welcome back");
    // Verlihub closes a kicked user's link when it next writes to it.
    user->send("$Kick brivox");
    user->chatFor(std::chrono::seconds(2));
    speakerSays("after the kick");
    ASSERT_TRUE(again.waitForStderr("DC++ connection closed. Trying to reconnect...", std::chrono::seconds(20)))
        << again.stderrText();
    if (GetParam() == HubKind::PtokaX) {
        EXPECT_TRUE(again.waitForStderr("temp ban with remaining time", std::chrono::seconds(20))) << again.stderrText();
    } else {
        EXPECT_TRUE(eventually([&] { return again.stderrText().rfind("Logged in to the hub") >
                                            again.stderrText().find("DC++ connection closed"); },
                               std::chrono::seconds(20)))
            << again.stderrText();
    }
    EXPECT_TRUE(again.running());
}

// Told to say more than the hub takes, the bot's message is refused: the
// hub's words to it stay on the hub, in the log, and the next message
// within the bounds passes.
TEST_P(RealNmdcHubTest, TheHubsRefusalStaysOnTheHub) {
    startHub();
    startRelay("dc_message_max_bytes = 1000\ndc_message_interval = 1500\n");
    std::string text(400, 'x');
    alice->say("#chat", text);
    const char* refusal = GetParam() == HubKind::PtokaX ? "The message was too long" : "maximum allowed is 256";
    ASSERT_TRUE(brivox.waitForStderr(refusal)) << brivox.stderrText();
    alice->say("#chat", "short again");
    EXPECT_EQ(botSays(), "<alice> short again");
    EXPECT_EQ(alice->linesFor(std::chrono::milliseconds(300)).find(refusal), std::string::npos);
}

// A nick already taken: the next is tried, also where the hub refuses it
// only after our $MyINFO (Verlihub). A wrong password ends a first log-in
// with status 2 and the hub's words.
TEST_P(RealNmdcHubTest, NickTakenAndWrongPassword) {
    // Verlihub also keeps a nick that just logged in from logging in again
    // for a while: a wait, which the test above covers.
    startHub(GetParam() == HubKind::Verlihub ? "int_login=0" : "");
    NmdcUser squatter(hub->port(), "brivox");
    botNick = "brivox_";
    startRelay();
    EXPECT_NE(brivox.stderrText().find("Nickname \"brivox\" already taken"), std::string::npos);
    alice->say("#chat", "from the second nick");
    EXPECT_EQ(botSays(), "<alice> from the second nick");

    ProcessRunner refused;
    refused.start(brivoxBinary(), {"-d", "-c", dir.write("refused.conf", config("dc_nick = regbot\ndc_pass = wrong\n"))});
    EXPECT_EQ(refused.waitExit(std::chrono::seconds(20)), 2) << refused.stderrText();
    const std::string log = refused.stderrText();
    EXPECT_NE(log.find(GetParam() == HubKind::PtokaX ? "Hub said that our password is incorrect..."
                                                    : "the hub closed the link after our password; it said last: "
                                                      "\"<Verlihub> You've been temporarily banned due to incorrect "
                                                      "password.\""),
              std::string::npos)
        << log;
}

INSTANTIATE_TEST_SUITE_P(HubKinds, RealNmdcHubTest, ::testing::Values(HubKind::PtokaX, HubKind::Verlihub), kindName);
