#include <gtest/gtest.h>

#include "ConnectedFixture.h"
#include "Eventually.h"
#include "LogCapture.h"
#include "dc/DCConnection.h"
#include "dc/nmdcEscapes.h"
#include "frame/Log.h"

namespace {

class DCConnectionTest : public ConnectedFixture<DCConnection> {
protected:
    void SetUp() override { connect(); }
};

}  // namespace

TEST_F(DCConnectionTest, CommandsAreCutAtThePipe) {
    std::string out;
    peer->send("$Lock abc Pk=x|$HubName test||<a> partial");
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, "$Lock abc Pk=x");
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, "$HubName test");
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, "");
    EXPECT_FALSE(connection.readMessage(out));
    EXPECT_EQ(out, "");
    peer->send(" done|");
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, "<a> partial done");
}

// Chat lines carry the escapes DC clients write, "&amp;" among them; other
// commands only the framing's two.
TEST_F(DCConnectionTest, ReceivedEscapesAreTurnedBackAndLoggedAsReceived) {
    LogCapture log(Traffic);
    std::string out;
    peer->send("<a> x&#124;y &#36;z &#124 &amp; &amp;#124; &#36&#36;|$To: b From: a $x&amp;y&#124;|");
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, "<a> x|y $z &#124 & &#124; &#36$");
    EXPECT_TRUE(log.contains(" > <a> x&#124;y &#36;z &#124 &amp; &amp;#124; &#36&#36;\n"));
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, "$To: b From: a $x&amp;y|");
}

TEST_F(DCConnectionTest, ChatIsEscapedAsDcClientsDoAndCommandsOnlyForThePipe) {
    LogCapture log(Traffic);
    connection.writeMessage("<bot> a|b $c &#124; &amp; & &x");
    EXPECT_EQ(peer->readUntil("|"), "<bot> a&#124;b &#36;c &amp;#124; &amp;amp; & &x");
    EXPECT_TRUE(log.contains(" > <bot> a&#124;b &#36;c &amp;#124; &amp;amp; & &x\n"));
    connection.writeMessage("$MyINFO $ALL bot a|b$ $100\x01$$0$");
    EXPECT_EQ(peer->readUntil("|"), "$MyINFO $ALL bot a&#124;b$ $100\x01$$0$");
    connection.writeMessage("");
    EXPECT_EQ(peer->readUntil("|"), "");
}

TEST_F(DCConnectionTest, NulBytesAndHighBytesPassUnchanged) {
    const std::string odd("<a> \0\xff\x80", 7);
    connection.writeMessage(odd);
    EXPECT_EQ(peer->readUntil("|"), odd);
    peer->send(odd + "|");
    std::string out;
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, odd);
}

TEST_F(DCConnectionTest, ACompleteCommandIsStillDeliveredWhenTheHubHasClosed) {
    peer->send("$Hello bot|$Hel");
    peer->close();
    std::string out;
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, "$Hello bot");
    ASSERT_TRUE(eventually([&] {
        connection.readMessage(out);
        return !connection.isConnected();
    }));
    EXPECT_FALSE(connection.readMessage(out));
}

TEST(DCConnectionClosed, BothOperationsRefuseSilently) {
    LogCapture log(-1);
    DCConnection connection;
    std::string out = "kept";
    EXPECT_FALSE(connection.readMessage(out));
    EXPECT_FALSE(connection.writeMessage("x"));
    EXPECT_EQ(out, "kept");
    EXPECT_EQ(log.text(), "");
}

TEST(NmdcEscapes, GiveTheTextBackAndEscapeOnlyWhatEachKindOfTextNeeds) {
    for (const std::string text : {"", "&", "&&", "&amp;", "&amp", "&#124;", "&#36;", "&#124", "&amp;#124;",
                                   "$|&", "&$", "&#$", "&#36|", "a&b;c", "&&amp;;"}) {
        EXPECT_EQ(unescapeNmdc(escapeNmdc(text, NmdcText::Chat), NmdcText::Chat), text) << text;
        EXPECT_EQ(unescapeNmdc(escapeNmdc(text, NmdcText::Command), NmdcText::Command),
                  unescapeNmdc(text, NmdcText::Command))
            << text;
    }
    EXPECT_EQ(escapeNmdc("&amp; &#124; & $|", NmdcText::Chat), "&amp;amp; &amp;#124; & &#36;&#124;");
    EXPECT_EQ(escapeNmdc("||$&amp;", NmdcText::Command), "&#124;&#124;$&amp;");
    EXPECT_EQ(unescapeNmdc("&#124;&#36;&amp;&&#124;", NmdcText::Command), "|$&amp;&|");
    EXPECT_FALSE(needsNmdcEscapes("a$b&c", NmdcText::Command));
    EXPECT_TRUE(needsNmdcEscapes("a&c", NmdcText::Chat));
}

TEST_F(DCConnectionTest, AnEndlessCommandIsDroppedAtTheLimit) {
    LogCapture log;
    floodUntilDropped(std::string(512 * 1024, 'x'), 12);
    EXPECT_FALSE(connection.isConnected());
    EXPECT_TRUE(log.contains("DCConnection::readMessage(): an unterminated command of "));
    EXPECT_TRUE(log.contains("over the limit of 4194304 bytes"));
}
