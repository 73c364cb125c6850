#include <gtest/gtest.h>

#include "ConnectedFixture.h"
#include "Eventually.h"
#include "LogCapture.h"
#include "frame/Log.h"
#include "irc/IRCConnection.h"

namespace {

class IRCConnectionTest : public ConnectedFixture<IRCConnection> {
protected:
    void SetUp() override { connect(); }
};

}  // namespace

TEST_F(IRCConnectionTest, LinesAreCutAtCrLfOnly) {
    std::string out;
    peer->send("first line\r\nsecond\r");
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, "first line");
    EXPECT_FALSE(connection.readMessage(out));
    EXPECT_EQ(out, "first line");
    peer->send("\nthird has a lone \r and a bare \n inside\r\n\r\n");
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, "second");
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, "third has a lone \r and a bare \n inside");
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, "");
}

TEST_F(IRCConnectionTest, ReceivedLinesAreLoggedAsTraffic) {
    LogCapture log(Traffic);
    peer->send(":server 001 bot :Welcome\r\n");
    std::string out;
    ASSERT_TRUE(readWithin(out));
    connection.writeMessage("JOIN #chat");
    EXPECT_EQ(peer->readUntil("\r\n"), "JOIN #chat");
    EXPECT_EQ(log.count(" > :server 001 bot :Welcome"), 1);
    EXPECT_EQ(log.count(" > JOIN #chat"), 1);
    EXPECT_TRUE(log.contains(": from "));
    EXPECT_TRUE(log.contains(": to "));
}

TEST_F(IRCConnectionTest, LineBreaksInSentTextBecomeSpaces) {
    connection.writeMessage("PRIVMSG #chat :one\r\ntwo\nthree\rfour");
    EXPECT_EQ(peer->readUntil("\r\n"), "PRIVMSG #chat :one  two three four");
    connection.writeMessage("");
    EXPECT_EQ(peer->readUntil("\r\n"), "");
}

TEST_F(IRCConnectionTest, SentLinesAreCutTo510Bytes) {
    const std::string exact(510, 'a');
    connection.writeMessage(exact);
    EXPECT_EQ(peer->readUntil("\r\n"), exact);
    LogCapture log(Traffic);
    connection.writeMessage(std::string(511, 'b'));
    EXPECT_EQ(peer->readUntil("\r\n"), std::string(510, 'b'));
    connection.writeMessage(std::string(2000, 'c') + "\n");
    EXPECT_EQ(peer->readUntil("\r\n"), std::string(510, 'c'));
    EXPECT_TRUE(log.contains(" > " + std::string(510, 'b') + "\n"));
}

TEST_F(IRCConnectionTest, ACompleteLineIsStillDeliveredWhenThePeerHasClosed) {
    peer->send("last words\r\nunfinished");
    peer->close();
    std::string out;
    ASSERT_TRUE(eventually([&] {
        return connection.readMessage(out);
    }));
    EXPECT_EQ(out, "last words");
    ASSERT_TRUE(eventually([&] { return !connection.isConnected() || connection.readMessage(out); }));
    EXPECT_FALSE(connection.readMessage(out));
    EXPECT_EQ(out, "last words");
}

TEST_F(IRCConnectionTest, AnEndlessLineIsDroppedAtTheLimit) {
    LogCapture log;
    floodUntilDropped(std::string(16 * 1024, 'x'), 8);
    EXPECT_FALSE(connection.isConnected());
    EXPECT_TRUE(log.contains("IRCConnection::readMessage(): an unterminated line of "));
    EXPECT_TRUE(log.contains("over the limit of 65536 bytes"));
}

TEST(IRCConnectionClosed, BothOperationsRefuseSilently) {
    LogCapture log(-1);
    IRCConnection connection;
    std::string out = "kept";
    EXPECT_FALSE(connection.readMessage(out));
    EXPECT_FALSE(connection.writeMessage("x"));
    EXPECT_EQ(out, "kept");
    EXPECT_EQ(log.text(), "");
}

TEST(IRCLineCleaning, KeepsLengthAndBytes) {
    EXPECT_EQ(cleanIRCLine(std::string("a\0b\r\nc", 6)), std::string("a\0b  c", 6));
    EXPECT_EQ(cleanIRCLine(std::string(600, '\n')), std::string(510, ' '));
    // A two-byte character at bytes 509 and 510 is not cut in half.
    EXPECT_EQ(cleanIRCLine(std::string(509, 'x') + "\xd0\x96rest"), std::string(509, 'x'));
}

// A peer cannot break or forge log lines: the raw bytes (Debug) and the line
// (Traffic) each stay on one log line, their control bytes escaped.
TEST_F(IRCConnectionTest, ControlBytesFromThePeerCannotForgeLogLines) {
    LogCapture log(63);
    peer->send(std::string("a\rb\0c\x1b[2Jd\n2026-01-01 00:00:00: forged\r\n", 40));
    std::string out;
    ASSERT_TRUE(readWithin(out));
    const std::string text = log.text();
    EXPECT_EQ(log.count(": "), 2) << text;
    EXPECT_EQ(log.count("forged"), 2) << text;
    EXPECT_TRUE(log.contains(" > a\\rb\\x00c\\x1B[2Jd\\n2026-01-01 00:00:00: forged\n")) << text;
    EXPECT_TRUE(log.contains(" > a\\rb\\x00c\\x1B[2Jd\\n2026-01-01 00:00:00: forged\\r\\n\n")) << text;
    // Without a line break to give it away, every control byte is shown too.
    peer->send(std::string("\x1b[31m\a\0\x01" "ACTION x\x01\x7f\r\n", 20));
    ASSERT_TRUE(readWithin(out));
    EXPECT_TRUE(log.contains(" > \\x1B[31m\\x07\\x00\\x01" "ACTION x\\x01\\x7F\n")) << log.text();
    EXPECT_TRUE(log.contains(" > \\x1B[31m\\x07\\x00\\x01" "ACTION x\\x01\\x7F\\r\\n\n")) << log.text();
}

TEST_F(IRCConnectionTest, ALineLongerThanTheProtocolAllowsIsDroppedWithOneNotice) {
    LogCapture log;
    peer->send(":a PRIVMSG #chat :" + std::string(20000, 'x') + "\r\n:a PRIVMSG #chat :next\r\n");
    std::string out;
    ASSERT_TRUE(readWithin(out));
    EXPECT_EQ(out, ":a PRIVMSG #chat :next");
    EXPECT_EQ(log.count("is longer than the 8702 the protocol allows; dropped"), 1);
    EXPECT_TRUE(connection.isConnected());
}
