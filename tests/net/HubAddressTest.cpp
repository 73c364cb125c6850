#include <gtest/gtest.h>

#include "net/HubAddress.h"
#include "net/base32.h"

namespace {

HubAddress parsed(const std::string& text) {
    std::string why;
    const std::optional<HubAddress> address = parseHubAddress(text, why);
    EXPECT_TRUE(address) << text << ": " << why;
    return address.value_or(HubAddress());
}

std::string refusal(const std::string& text) {
    std::string why;
    EXPECT_FALSE(parseHubAddress(text, why)) << text;
    return why;
}

}  // namespace

// What DC clients accept; a bare host stays an NMDC hub as it always was.
TEST(HubAddress, SchemesHostsPortsAndKeyPrints) {
    const HubAddress bare = parsed("hub.example.org");
    EXPECT_EQ(bare.protocol, HubAddress::Protocol::Nmdc);
    EXPECT_EQ(bare.host, "hub.example.org");
    EXPECT_FALSE(bare.tls);
    EXPECT_FALSE(bare.port);
    EXPECT_EQ(parsed("2001:db8::1").host, "2001:db8::1");
    EXPECT_EQ(parsed("hub:4111").port, 4111);
    EXPECT_EQ(parsed("[::1]:411").host, "::1");
    EXPECT_EQ(parsed("[::1]:411").port, 411);
    EXPECT_EQ(parsed("[::1]").host, "::1");
    EXPECT_EQ(parsed("dchub:411").host, "dchub");

    const HubAddress adc = parsed("adc://[::1]:1511");
    EXPECT_EQ(adc.protocol, HubAddress::Protocol::Adc);
    EXPECT_EQ(adc.host, "::1");
    EXPECT_EQ(adc.port, 1511);
    EXPECT_EQ(adc.tls, false);

    const std::string print(32, '\x5a');
    EXPECT_EQ(parsed("adcs://hub:1511?kp=SHA256/" + base32Encode(print)).keyPrint, print);
    const HubAddress adcs = parsed("ADCS://hub.example.org:1511/?kp=SHA256/" + base32Encode(print));
    EXPECT_EQ(adcs.protocol, HubAddress::Protocol::Adc);
    EXPECT_EQ(adcs.tls, true);
    EXPECT_EQ(adcs.keyPrint, print);

    const HubAddress nmdcs = parsed("nmdcs://hub:411/");
    EXPECT_EQ(nmdcs.protocol, HubAddress::Protocol::Nmdc);
    EXPECT_EQ(nmdcs.tls, true);
    EXPECT_EQ(nmdcs.port, 411);
    EXPECT_EQ(parsed("dchub://hub").tls, false);

    // Each refusal names the part that is wrong.
    for (const char* badScheme : {"irc://hub", "adcs:/hub:411", "adc:hub:411"})
        EXPECT_EQ(refusal(badScheme).rfind("has an unknown scheme \"", 0), 0u) << badScheme << refusal(badScheme);
    EXPECT_EQ(refusal("adc://user:pw@hub:411"),
              "has a user before '@'; a hub address names no user (dc_nick and dc_pass do)");
    EXPECT_EQ(refusal("adc://:1511"), "names no host");
    EXPECT_EQ(refusal("adc://[::1:1511"), "has a '[' without its ']'");
    for (const char* badPort : {"adc://hub:0", "adc://hub:70000", "adc://hub:", "adc://hub:15x"})
        EXPECT_NE(refusal(badPort).find("where its port (1..65535) should be"), std::string::npos) << badPort;
    EXPECT_EQ(refusal("adc://[::1]x"), "has \"x\" after the host, where only ':' and a port may follow");
    EXPECT_EQ(refusal("adc://hub:1511/chat"), "has \"chat\" after the port; only ?kp=SHA256/... may follow");
    EXPECT_EQ(refusal("adcs://hub/?kp=SHA256/ABC"), "has a key print that is not the base32 of 32 bytes (a SHA-256)");
    EXPECT_EQ(refusal("adc://hub/?kp=SHA256/" + base32Encode(print)),
              "has a key print, which only a TLS address (adcs://, nmdcs://) can check");
}
