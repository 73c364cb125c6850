#include <gtest/gtest.h>

#include "TempDir.h"
#include "frame/Config.h"
#include "adc/tiger.h"
#include "net/TlsSession.h"

namespace {

Config loadText(const std::string& text) {
    TempDir dir;
    Config config;
    EXPECT_TRUE(config.load(dir.write("brivox.conf", text)));
    return config;
}

std::string loadValue(const std::string& line) {
    return loadText("irc_nick = " + line + "\n").irc.irc_nick;
}

}  // namespace

// Every key of the table, given a value of its own, fills its own field.
TEST(Config, EveryKeyOfTheTableFillsItsOwnField) {
    std::string text;
    std::vector<std::string> written;
    for (const ConfigKey* entry = configKeys; entry->key[0] != '\0'; ++entry) {
        const std::size_t index = written.size();
        written.push_back(entry->intField ? std::to_string(entry->rule.min + static_cast<std::int32_t>(index))
                                          : std::string("v_") + entry->key);
        text += std::string(entry->key) + " = " + written.back() + "\n";
    }
    Config config = loadText(text);
    std::size_t index = 0;
    for (const ConfigKey* entry = configKeys; entry->key[0] != '\0'; ++entry, ++index) {
        const std::string value = entry->intField ? std::to_string(*entry->intField(config))
                                                  : *entry->stringField(config);
        EXPECT_EQ(value, written[index]) << entry->key;
        EXPECT_EQ(config.keyLines.at(entry->key), index + 1) << entry->key;
    }
    EXPECT_EQ(config.rawValues.size(), written.size());
    EXPECT_TRUE(Config().problems().empty());
}

// Every mistake of a file is named with its line, each by the rule of its
// key: numbers and their ranges, forbidden bytes, lengths, switches, what
// may not be empty, and the rules between keys.
TEST(Config, EveryMistakeIsNamedWithItsLine) {
    TempDir dir;
    const std::string path = dir.write(
        "brivox.conf", "irc_port = 70000\n; a comment\nirc_channel = #a,#b\nirc_tls = maybe\n"
                       "dc_port = 4295021951\nirc_burst_lines = 0\nirc_nick = \ndc_nick = a$b\n"
                       "loglevel = eleven\nirc_realname = " + std::string(300, 'r') + "\n"
                       "irc_sasl_password = secret\nreconnect_delay_min = 30\nreconnect_delay_max = 20\n"
                       "dc_encoding = NO-SUCH-SET\ndc_speed_val = 36\ndc_description = away\x01\n"
                       "dc_email = a|b\nirc_line_interval = 12abc\ndc_server = adc://hub:1511\ndc_tls = yes\n");
    Config config;
    ConfigDiagnostics diagnostics;
    ASSERT_TRUE(config.load(path, diagnostics));
    std::vector<std::string> described;
    for (const ConfigProblem& problem : diagnostics.problems)
        described.push_back(problem.describe("brivox.conf"));
    const std::vector<std::string> expected = {
        "brivox.conf:1: irc_port: 70000 is not a port (1..65535)",
        "brivox.conf:3: irc_channel: holds \",\", which the protocol does not allow there",
        "brivox.conf:4: irc_tls: \"maybe\" is not yes or no",
        "brivox.conf:5: dc_port: 4295021951 is not a port (1..65535)",
        "brivox.conf:6: irc_burst_lines: 0 is out of range (1..10000)",
        "brivox.conf:7: irc_nick: must not be empty",
        "brivox.conf:8: dc_nick: holds \"$\", which the protocol does not allow there",
        "brivox.conf:9: loglevel: \"eleven\" is not a whole number",
        "brivox.conf:10: irc_realname: is 300 bytes long; at most 255 fit",
        "brivox.conf:11: irc_sasl_password: is set without irc_sasl_user",
        "brivox.conf:13: reconnect_delay_max: is below reconnect_delay_min (30)",
        "brivox.conf:14: dc_encoding: iconv(3) has no character set \"NO-SUCH-SET\" (try UTF-8, CP1251, CP1252, "
        "KOI8-R)",
        "brivox.conf:15: dc_speed_val: 36 is '$', which $MyINFO cannot carry",
        "brivox.conf:16: dc_description: holds \"\\x01\", which the protocol does not allow there",
        "brivox.conf:17: dc_email: holds \"|\", which the protocol does not allow there",
        "brivox.conf:18: irc_line_interval: \"12abc\" is not a whole number",
        tigerAvailable() ? "brivox.conf:19: dc_server: names a hub without TLS (adc://), but dc_tls is yes"
                         : "brivox.conf:19: dc_server: names an ADC hub, but brivox was built without ADC (it needs "
                           "libgcrypt)",
    };
    EXPECT_EQ(described, expected);
    EXPECT_EQ(config.irc.irc_port, 6667);
    // NMDC needs a set that writes ASCII as ASCII.
    Config wide;
    wide.dc.dc_encoding = "UTF-16";
    ASSERT_EQ(wide.problems().size(), 1u);
    EXPECT_EQ(wide.problems()[0].text, "\"UTF-16\" does not write ASCII as ASCII, which NMDC needs (try UTF-8, "
                                       "CP1251, CP1252, KOI8-R)");
    Config pipe;
    pipe.dc.dc_speed_val = 124;
    ASSERT_EQ(pipe.problems().size(), 1u);
    EXPECT_EQ(pipe.problems()[0].text, "124 is '|', which $MyINFO cannot carry");
    Config address;
    address.dc.dc_server = "ftp://hub";
    ASSERT_EQ(address.problems().size(), 1u);
    EXPECT_EQ(address.problems()[0].text,
              "\"ftp://hub\" has an unknown scheme \"ftp://\" (adc://, adcs://, dchub://, nmdcs://, or a host name "
              "alone)");
    Config certificate;
    certificate.irc.irc_tls = "yes";
    certificate.irc.irc_tls_cert = "/dev/zero";
    ASSERT_EQ(certificate.problems().size(), TlsSession::available() ? 1u : 2u);
    EXPECT_EQ(certificate.problems().back().describe("b.conf"),
              TlsSession::available() ? "b.conf: irc_tls_cert: \"/dev/zero\" is not a regular file"
                                      : "b.conf: irc_tls_cert: \"/dev/zero\" cannot be used: brivox was built without TLS");
}

TEST(Config, EmptyAndCommentOnlyFilesKeepDefaults) {
    const Config empty = loadText("");
    EXPECT_EQ(empty.irc.irc_nick, "brivox");
    const Config comments = loadText("; a comment\n\n   ; indented\n\t\nno equals sign here\n");
    EXPECT_EQ(comments.irc.irc_nick, "brivox");
    EXPECT_EQ(comments.rawValues.size(), 0u);
}

TEST(Config, CommentsCutTheLineEvenInsideQuotes) {
    EXPECT_EQ(loadValue("\"quoted\" ; comment"), "quoted");
    EXPECT_EQ(loadValue("'a;b'"), "a");
    EXPECT_EQ(loadValue("\"semi;colon\""), "semi");
}

TEST(Config, SpacesAreTrimmedBeforeQuotesAndQuotesIndependently) {
    EXPECT_EQ(loadValue("\"  padded  \""), "  padded  ");
    EXPECT_EQ(loadValue("'\"x\"'"), "x");
    EXPECT_EQ(loadValue("\"'x'\""), "'x'");
    EXPECT_EQ(loadValue("''x"), "x");
    EXPECT_EQ(loadValue("mid'quote"), "mid'quote");
    EXPECT_EQ(loadText("   irc_nick   =   spaced   \n").irc.irc_nick, "spaced");
}

TEST(Config, SplitsAtTheFirstEquals) {
    const Config c = loadText("a = b = c\n= orphan\n");
    EXPECT_EQ(c.rawValues.at("a"), "b = c");
    EXPECT_EQ(c.rawValues.at(""), "orphan");
}

// A number is a whole decimal number and nothing else; what is not one
// leaves the default and is a problem.
TEST(Config, NumbersAreWholeDecimalNumbersOrProblems) {
    EXPECT_EQ(loadText("loglevel = -1\n").loglevel, -1);
    EXPECT_EQ(loadText("irc_port = +12\n").irc.irc_port, 12);
    EXPECT_EQ(loadText("irc_nick =\n").irc.irc_nick, "");
    for (const char* bad : {"6667abc", "", "0x1A0B", "99999999999999999999999", "1 2"}) {
        TempDir dir;
        Config config;
        ConfigDiagnostics diagnostics;
        ASSERT_TRUE(config.load(dir.write("b.conf", std::string("irc_port = ") + bad + "\n"), diagnostics));
        EXPECT_EQ(config.irc.irc_port, 6667) << bad;
        ASSERT_EQ(diagnostics.problems.size(), 1u) << bad;
        EXPECT_EQ(diagnostics.problems[0].text, std::string("\"") + bad + "\" is not a whole number");
    }
}

TEST(Config, KeysAreCaseSensitiveAndOnlySpacesAreTrimmed) {
    const Config c = loadText("IRC_NICK = upper\nirc_nick\t= tabbed\n");
    EXPECT_EQ(c.irc.irc_nick, "brivox");
    EXPECT_EQ(c.rawValues.count("IRC_NICK"), 1u);
    EXPECT_EQ(c.rawValues.count("irc_nick\t"), 1u);
    EXPECT_EQ(loadValue("tab\t"), "tab\t");
}

TEST(Config, TheLaterOfTwoEqualKeysWins) {
    EXPECT_EQ(loadText("irc_nick = first\nirc_nick = second\n").irc.irc_nick, "second");
}

// As Windows editors save a file: a byte-order mark and CRLF.
TEST(Config, CrlfLineEndsAndAByteOrderMarkLeaveNothingInKeysOrValues) {
    const Config c = loadText("\xef\xbb\xbfirc_channel = \"#chat\"\r\nirc_nick = bot\r\nirc_port = 7000\r\n");
    EXPECT_EQ(c.irc.irc_channel, "#chat");
    EXPECT_EQ(c.irc.irc_nick, "bot");
    EXPECT_EQ(c.irc.irc_port, 7000);
    // Only the one carriage return before the newline belongs to the line end.
    EXPECT_EQ(loadValue("a\rb\r\r"), "a\rb\r");
}

TEST(Config, LastLineWithoutNewlineCounts) {
    EXPECT_EQ(loadText("irc_nick = last").irc.irc_nick, "last");
}

TEST(Config, UnknownKeysStayInRawValuesAndAreNamedWithTheirLineInABoundedWarningList) {
    TempDir dir;
    Config config;
    ConfigDiagnostics diagnostics;
    std::string text = "irc_nick = bot\n; comment\nirc_chanel = #typo\n";
    for (int i = 0; i < 12; ++i)
        text += "unknown" + std::to_string(i) + " = x\n";
    ASSERT_TRUE(config.load(dir.write("brivox.conf", text), diagnostics));
    EXPECT_EQ(config.rawValues.at("irc_chanel"), "#typo");
    ASSERT_EQ(diagnostics.warnings.size(), 11u);
    EXPECT_EQ(diagnostics.warnings[0],
              "Unknown key \"irc_chanel\" on line 3 of the configuration file; ignored");
    EXPECT_EQ(diagnostics.warnings[10], "... and 3 more unknown keys");
}

TEST(Config, FilesThatCannotBeReadAreFailuresAndChangeNothing) {
    TempDir dir;
    Config config;
    config.irc.irc_nick = "kept";
    EXPECT_FALSE(config.load(dir.file("missing.conf")));
    EXPECT_FALSE(config.load(""));
    EXPECT_FALSE(config.load(dir.path()));
    ConfigDiagnostics tooLarge;
    EXPECT_FALSE(config.load(dir.write("big.conf", std::string(kMaxConfigBytes + 1, ';')), tooLarge));
    EXPECT_NE(tooLarge.failure.find("big.conf is larger than 1048576 bytes"), std::string::npos);
    EXPECT_TRUE(config.load(dir.write("fits.conf", std::string(kMaxConfigBytes, ';'))));
    EXPECT_EQ(config.irc.irc_nick, "kept");
    EXPECT_TRUE(config.rawValues.empty());
}

TEST(Config, TrimRemovesOnlyTheGivenCharacterAtBothEnds) {
    EXPECT_EQ(trim("  a b  ", ' '), "a b");
    EXPECT_EQ(trim("    ", ' '), "");
    EXPECT_EQ(trim("", ' '), "");
    EXPECT_EQ(trim("\t a \t", ' '), "\t a \t");
    EXPECT_EQ(trim("xxaxx", 'x'), "a");
}

TEST(Config, TheSampleFileYieldsTheDefaults) {
    Config sample;
    ASSERT_TRUE(sample.load(BRIVOX_SOURCE_DIR "/brivox.conf.sample"));
    const Config defaults;
    EXPECT_TRUE(sample.rawValues.empty());
    EXPECT_EQ(sample.irc.irc_server, defaults.irc.irc_server);
    EXPECT_EQ(sample.dc.dc_email, defaults.dc.dc_email);
    EXPECT_EQ(sample.loglevel, defaults.loglevel);
}

TEST(Config, TheSampleFileNamesEveryKeyInTableOrderWithItsDefault) {
    // Uncommenting every key line must give the defaults again.
    const std::string text = readFile(BRIVOX_SOURCE_DIR "/brivox.conf.sample");
    std::string uncommented;
    std::size_t searchFrom = 0;
    std::size_t keys = 0;
    for (const ConfigKey* entry = configKeys; entry->key[0] != '\0'; ++entry, ++keys) {
        const std::size_t at = text.find(std::string("\n;") + entry->key + " =", searchFrom);
        ASSERT_NE(at, std::string::npos) << entry->key;
        searchFrom = at + 1;
        uncommented += text.substr(at + 2, text.find('\n', at + 1) - at - 2) + "\n";
    }
    Config loaded = loadText(uncommented);
    Config expected;
    EXPECT_EQ(loaded.rawValues.size(), keys);
    for (const ConfigKey* entry = configKeys; entry->key[0] != '\0'; ++entry) {
        if (entry->intField)
            EXPECT_EQ(*entry->intField(loaded), *entry->intField(expected)) << entry->key;
        else
            EXPECT_EQ(*entry->stringField(loaded), *entry->stringField(expected)) << entry->key;
    }
}
