#include <gtest/gtest.h>

#include "TempDir.h"
#include "frame/Config.h"

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

TEST(Config, DefaultsMatchTheKeyTable) {
    const Config config;
    EXPECT_EQ(config.irc.irc_server, "127.0.0.1");
    EXPECT_EQ(config.irc.irc_port, 6667);
    EXPECT_EQ(config.irc.irc_channel, "#chat");
    EXPECT_EQ(config.irc.irc_nick, "brivox");
    EXPECT_EQ(config.irc.irc_realname, "brivox gate bot");
    EXPECT_EQ(config.irc.irc_username, "brivox");
    EXPECT_EQ(config.irc.irc_password, "");
    EXPECT_EQ(config.dc.dc_server, "127.0.0.1");
    EXPECT_EQ(config.dc.dc_port, 411);
    EXPECT_EQ(config.dc.dc_nick, "brivox");
    EXPECT_EQ(config.dc.dc_pass, "");
    EXPECT_EQ(config.dc.dc_description, "brivox gate bot");
    EXPECT_EQ(config.dc.dc_speed, "100");
    EXPECT_EQ(config.dc.dc_speed_val, 1);
    EXPECT_NE(config.dc.dc_email.find("@"), std::string::npos);
    EXPECT_EQ(config.dc.dc_share_size, "1073741825");
    EXPECT_EQ(config.logfile, "");
    EXPECT_EQ(config.pidfile, "");
    EXPECT_EQ(config.loglevel, 11);
    EXPECT_EQ(config.use_syslog, 0);
    EXPECT_TRUE(config.rawValues.empty());
}

TEST(Config, KeyTableHasItsKeysInOrderThenTheMarker) {
    const char* expected[] = {"irc_server", "irc_port", "irc_nick", "irc_username", "irc_password",
                              "irc_realname", "irc_channel", "dc_server", "dc_port", "dc_nick",
                              "dc_pass", "dc_description", "dc_speed", "dc_speed_val", "dc_email",
                              "dc_share_size", "logfile", "pidfile", "loglevel", "use_syslog",
                              "irc_burst_lines", "irc_line_interval", "dc_encoding", "ignore_nicks", "irc_queue_max_age",
                              "irc_tls", "irc_tls_verify", "irc_tls_cert", "irc_sasl_user", "irc_sasl_password",
                              "irc_channel_key", "dc_tls", "dc_tls_verify"};
    std::size_t i = 0;
    for (; configKeys[i].type != 0; ++i) {
        ASSERT_LT(i, 33u);
        EXPECT_STREQ(configKeys[i].key, expected[i]);
        EXPECT_EQ(configKeys[i].type == 'i', configKeys[i].intField != nullptr);
        EXPECT_EQ(configKeys[i].type == 's', configKeys[i].stringField != nullptr);
    }
    EXPECT_EQ(i, 33u);
}

TEST(Config, EveryKeyFillsItsField) {
    const Config c = loadText(
        "irc_server = irc.example.org\nirc_port = 7000\nirc_nick = n\nirc_username = u\n"
        "irc_password = p\nirc_realname = r\nirc_channel = #c\ndc_server = hub.example.org\n"
        "dc_port = 412\ndc_nick = dn\ndc_pass = dp\ndc_description = dd\ndc_speed = DSL\n"
        "dc_speed_val = 5\ndc_email = e@x\ndc_share_size = 99\nlogfile = /l\npidfile = /p\n"
        "loglevel = 63\nuse_syslog = 1\nirc_burst_lines = 3\nirc_line_interval = 0\n"
        "dc_encoding = CP1251\nignore_nicks = x,y\nirc_queue_max_age = 30\nirc_tls = yes\n"
        "irc_tls_verify = no\nirc_tls_cert = /c.pem\nirc_sasl_user = su\nirc_sasl_password = sp\n"
        "irc_channel_key = k\ndc_tls = on\ndc_tls_verify = off\n");
    EXPECT_EQ(c.irc.irc_server, "irc.example.org");
    EXPECT_EQ(c.irc.irc_port, 7000);
    EXPECT_EQ(c.irc.irc_nick, "n");
    EXPECT_EQ(c.irc.irc_username, "u");
    EXPECT_EQ(c.irc.irc_password, "p");
    EXPECT_EQ(c.irc.irc_realname, "r");
    EXPECT_EQ(c.irc.irc_channel, "#c");
    EXPECT_EQ(c.dc.dc_server, "hub.example.org");
    EXPECT_EQ(c.dc.dc_port, 412);
    EXPECT_EQ(c.dc.dc_nick, "dn");
    EXPECT_EQ(c.dc.dc_pass, "dp");
    EXPECT_EQ(c.dc.dc_description, "dd");
    EXPECT_EQ(c.dc.dc_speed, "DSL");
    EXPECT_EQ(c.dc.dc_speed_val, 5);
    EXPECT_EQ(c.dc.dc_email, "e@x");
    EXPECT_EQ(c.dc.dc_share_size, "99");
    EXPECT_EQ(c.logfile, "/l");
    EXPECT_EQ(c.pidfile, "/p");
    EXPECT_EQ(c.loglevel, 63);
    EXPECT_EQ(c.use_syslog, 1);
    EXPECT_EQ(c.irc.irc_burst_lines, 3);
    EXPECT_EQ(c.irc.irc_line_interval, 0);
    EXPECT_EQ(c.dc.dc_encoding, "CP1251");
    EXPECT_EQ(c.ignore_nicks, "x,y");
    EXPECT_EQ(c.irc.irc_queue_max_age, 30);
    EXPECT_EQ(c.irc.irc_tls, "yes");
    EXPECT_EQ(c.irc.irc_tls_verify, "no");
    EXPECT_EQ(c.irc.irc_tls_cert, "/c.pem");
    EXPECT_EQ(c.irc.irc_sasl_user, "su");
    EXPECT_EQ(c.irc.irc_sasl_password, "sp");
    EXPECT_EQ(c.irc.irc_channel_key, "k");
    EXPECT_EQ(c.dc.dc_tls, "on");
    EXPECT_EQ(c.dc.dc_tls_verify, "off");
    EXPECT_EQ(c.rawValues.size(), 33u);
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

TEST(Config, EmptyValuesEmptyStringsAndZeroIntegers) {
    const Config c = loadText("irc_nick =\nirc_port =\n");
    EXPECT_EQ(c.irc.irc_nick, "");
    EXPECT_EQ(c.irc.irc_port, 0);
}

TEST(Config, IntegersAreReadAsStrtolDoes) {
    EXPECT_EQ(loadText("irc_port = 6667abc\n").irc.irc_port, 6667);
    EXPECT_EQ(loadText("irc_port = abc\n").irc.irc_port, 0);
    EXPECT_EQ(loadText("loglevel = -1\n").loglevel, -1);
    EXPECT_EQ(loadText("irc_port = +12\n").irc.irc_port, 12);
    // Beyond 32 bits: the low 32 bits of the value are kept.
    EXPECT_EQ(loadText("irc_port = 4294967297\n").irc.irc_port, 1);
    // strtol saturates at its limit; the low 32 bits of that are all ones.
    EXPECT_EQ(loadText("irc_port = 99999999999999999999999\n").irc.irc_port, -1);
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

TEST(Config, CrlfLineEndsLeaveNoCarriageReturnInValues) {
    const Config c = loadText("irc_channel = \"#chat\"\r\nirc_nick = bot\r\nirc_port = 7000\r\n");
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

TEST(Config, AssemblyTakesBothSidesAndTheGeneralSettingsWithoutRawValues) {
    Config general =
        loadText("logfile = /log\npidfile = /pid\nloglevel = 3\nuse_syslog = 1\nignore_nicks = a,b\nx = y\n");
    IRCConfig irc;
    irc.irc_nick = "ircbot_";
    DCConfig dc;
    dc.dc_nick = "hubbot__";
    general = Config(irc, dc, general);
    EXPECT_EQ(general.irc.irc_nick, "ircbot_");
    EXPECT_EQ(general.dc.dc_nick, "hubbot__");
    EXPECT_EQ(general.logfile, "/log");
    EXPECT_EQ(general.pidfile, "/pid");
    EXPECT_EQ(general.loglevel, 3);
    EXPECT_EQ(general.use_syslog, 1);
    EXPECT_EQ(general.ignore_nicks, "a,b");
    EXPECT_TRUE(general.rawValues.empty());
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
    for (const ConfigKey* entry = configKeys; entry->type != 0; ++entry) {
        const std::size_t at = text.find(std::string("\n;") + entry->key + " =", searchFrom);
        ASSERT_NE(at, std::string::npos) << entry->key;
        searchFrom = at + 1;
        uncommented += text.substr(at + 2, text.find('\n', at + 1) - at - 2) + "\n";
    }
    const Config loaded = loadText(uncommented);
    const Config defaults;
    EXPECT_EQ(loaded.rawValues.size(), 33u);
    EXPECT_EQ(loaded.irc.irc_queue_max_age, defaults.irc.irc_queue_max_age);
    EXPECT_EQ(loaded.dc.dc_encoding, defaults.dc.dc_encoding);
    EXPECT_EQ(loaded.ignore_nicks, defaults.ignore_nicks);
    EXPECT_EQ(loaded.irc.irc_burst_lines, defaults.irc.irc_burst_lines);
    EXPECT_EQ(loaded.irc.irc_line_interval, defaults.irc.irc_line_interval);
    EXPECT_EQ(loaded.irc.irc_server, defaults.irc.irc_server);
    EXPECT_EQ(loaded.irc.irc_port, defaults.irc.irc_port);
    EXPECT_EQ(loaded.irc.irc_nick, defaults.irc.irc_nick);
    EXPECT_EQ(loaded.irc.irc_username, defaults.irc.irc_username);
    EXPECT_EQ(loaded.irc.irc_password, defaults.irc.irc_password);
    EXPECT_EQ(loaded.irc.irc_realname, defaults.irc.irc_realname);
    EXPECT_EQ(loaded.irc.irc_channel, defaults.irc.irc_channel);
    EXPECT_EQ(loaded.dc.dc_server, defaults.dc.dc_server);
    EXPECT_EQ(loaded.dc.dc_port, defaults.dc.dc_port);
    EXPECT_EQ(loaded.dc.dc_nick, defaults.dc.dc_nick);
    EXPECT_EQ(loaded.dc.dc_pass, defaults.dc.dc_pass);
    EXPECT_EQ(loaded.dc.dc_description, defaults.dc.dc_description);
    EXPECT_EQ(loaded.dc.dc_speed, defaults.dc.dc_speed);
    EXPECT_EQ(loaded.dc.dc_speed_val, defaults.dc.dc_speed_val);
    EXPECT_EQ(loaded.dc.dc_email, defaults.dc.dc_email);
    EXPECT_EQ(loaded.dc.dc_share_size, defaults.dc.dc_share_size);
    EXPECT_EQ(loaded.logfile, defaults.logfile);
    EXPECT_EQ(loaded.pidfile, defaults.pidfile);
    EXPECT_EQ(loaded.loglevel, defaults.loglevel);
    EXPECT_EQ(loaded.use_syslog, defaults.use_syslog);
    EXPECT_EQ(loaded.irc.irc_tls, defaults.irc.irc_tls);
    EXPECT_EQ(loaded.irc.irc_tls_verify, defaults.irc.irc_tls_verify);
    EXPECT_EQ(loaded.dc.dc_tls, defaults.dc.dc_tls);
    EXPECT_EQ(loaded.dc.dc_tls_verify, defaults.dc.dc_tls_verify);
}
