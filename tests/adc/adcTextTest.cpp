#include <gtest/gtest.h>

#include "ConnectedFixture.h"
#include "LogCapture.h"
#include "adc/ADCConnection.h"
#include "adc/ADCMessage.h"
#include "adc/adcEscapes.h"
#include "adc/hubChatText.h"
#include "adc/tiger.h"
#include "net/base32.h"

// RFC 4648's vectors, without padding; either letter case is read, and
// leftover bits must be zero.
TEST(Base32, EncodesAndDecodesWithoutPadding) {
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""}, {"f", "MY"}, {"fo", "MZXQ"}, {"foo", "MZXW6"}, {"foob", "MZXW6YQ"}, {"fooba", "MZXW6YTB"},
        {"foobar", "MZXW6YTBOI"}};
    for (const auto& [bytes, text] : vectors) {
        EXPECT_EQ(base32Encode(bytes), text);
        EXPECT_EQ(base32Decode(text), bytes);
    }
    EXPECT_EQ(base32Decode("mzxw6ytboi"), "foobar");
    EXPECT_FALSE(base32Decode("MZXW6YTBO1"));
    EXPECT_FALSE(base32Decode("MZ="));
    EXPECT_FALSE(base32Decode("MZ"));  // "f" is "MY": Z leaves a bit set
}

// The published vectors of Tiger/192 in the byte order hubs use.
TEST(Tiger, PublishedVectors) {
    if (!tigerAvailable())
        GTEST_SKIP() << "built without ADC";
    const auto hex = [](const std::string& bytes) {
        std::string text;
        for (const unsigned char byte : bytes) {
            text += "0123456789ABCDEF"[byte >> 4];
            text += "0123456789ABCDEF"[byte & 15];
        }
        return text;
    };
    EXPECT_EQ(hex(tigerHash("")), "3293AC630C13F0245F92BBB1766E16167A4E58492DDE73F3");
    EXPECT_EQ(hex(tigerHash("abc")), "2AAB1484E8C158F2BFB8C5FF41B57A525129131C957B5F93");
}

TEST(AdcEscapes, RoundTripAndInvalidEscapes) {
    const std::string text = "a b\nc\\d \\s";
    EXPECT_EQ(adcEscape(text), "a\\sb\\nc\\\\d\\s\\\\s");
    EXPECT_EQ(adcEscapedSize(text), adcEscape(text).size());
    std::string back;
    ASSERT_TRUE(adcUnescape(adcEscape(text), back));
    EXPECT_EQ(back, text);
    EXPECT_FALSE(adcUnescape("a\\x", back));
    EXPECT_FALSE(adcUnescape("trailing\\", back));
}

TEST(ADCMessage, HeadParametersAndNamedOnes) {
    ADCMessage message;
    ASSERT_TRUE(parseADCMessage("BMSG AAAB hello\\sthere ME1 PMAAAB", message));
    EXPECT_TRUE(message.is("BMSG"));
    EXPECT_EQ(message.parameters, (std::vector<std::string_view>{"AAAB", "hello\\sthere", "ME1", "PMAAAB"}));
    EXPECT_EQ(message.named("ME", 2), "1");
    EXPECT_EQ(message.named("PM", 2), "AAAB");
    EXPECT_FALSE(message.named("TS", 2));
    ASSERT_TRUE(parseADCMessage("ISID AAAB", message));
    EXPECT_TRUE(isSessionId(message.parameters[0]));
    ASSERT_TRUE(parseADCMessage("HSUP", message));
    EXPECT_TRUE(message.parameters.empty());
    for (const char* bad : {"", "BMS", "bmsg AAAB x", "BMSGX", "BM G x"})
        EXPECT_FALSE(parseADCMessage(bad, message)) << bad;
    for (const char* bad : {"AAA", "AAAAA", "AAA1", "aaab"})
        EXPECT_FALSE(isSessionId(bad)) << bad;
}

// What a hub would drop the whole message for is left out or replaced.
TEST(HubChatText, ControlBytesInvalidUtf8FourByteCharactersAndCommands) {
    const std::string emoji = "\xf0\x9f\x98\x80";
    const std::string text = "\x03" "4red\x0f tab\t cr\r lf\n caf\xe9 " + emoji + " \xe2\x82\xac del\x7f";
    EXPECT_EQ(hubChatText(text, true), "4red tab\t cr\r lf\n caf\xef\xbf\xbd " + emoji + " \xe2\x82\xac del\x7f");
    EXPECT_EQ(hubChatText(text, false),
              "4red tab\t cr\r lf\n caf\xef\xbf\xbd \xef\xbf\xbd \xe2\x82\xac del\x7f");
    EXPECT_EQ(hubChatText("!help", true), "!!help");
    EXPECT_EQ(hubChatText("\x02+me", true), "++me");
    EXPECT_EQ(hubChatText("a!b", true), "a!b");
}

namespace {

class ADCConnectionTest : public ConnectedFixture<ADCConnection> {
protected:
    void SetUp() override { connect(); }
};

}  // namespace

// As on the other two framings: a line that never ends costs the link.
TEST_F(ADCConnectionTest, AnEndlessLineIsDroppedAtTheLimit) {
    LogCapture log;
    floodUntilDropped(std::string(512 * 1024, 'x'), 4);
    EXPECT_FALSE(connection.isConnected());
    EXPECT_TRUE(log.contains("ADCConnection::readMessage(): an unterminated line of "));
    EXPECT_TRUE(log.contains("over the limit of 1048576 bytes"));
}
