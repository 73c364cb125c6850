// The settings records and the configuration file they are loaded from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// The IRC side's settings; each field bears the name of its key.
struct IRCConfig {
    std::string irc_server = "127.0.0.1";       // host name, IPv4 or IPv6 address
    std::int32_t irc_port = 6667;                // TCP port of the server
    std::string irc_channel = "#chat";          // the one channel joined and relayed
    std::string irc_nick = "brivox";            // the bot's nick
    std::string irc_realname = "brivox gate bot";  // real-name text at registration
    std::string irc_username = "brivox";        // user name at registration
    std::string irc_password;                    // server password; empty sends no PASS
    std::int32_t irc_burst_lines = 5;            // chat lines that may go to the server at once
    std::int32_t irc_line_interval = 2000;       // ms until one more may go; 0: no pacing
    std::int32_t irc_queue_max_age = 120;        // s a chat line may wait for its turn; 0: no limit
    std::string irc_tls = "no";                  // yes: TLS from the first byte
    std::string irc_tls_verify = "yes";          // no: accept any certificate
    std::string irc_tls_cert;                    // our certificate and key (PEM); empty: none
    std::string irc_sasl_user;                   // set: SASL log-in before the welcome
    std::string irc_sasl_password;               // PLAIN; empty with a certificate: EXTERNAL
    std::string irc_channel_key;                 // sent with every JOIN when set
    std::string irc_relaymsg = "no";             // yes: hub users speak under their own nicks where the server lets us
    std::string irc_relaymsg_suffix = "dc";      // ends those nicks, after the server's separator
    std::string irc_nick_nohighlight = "no";     // yes: a zero-width space inside each hub nick in a tag
    std::string irc_nick_colors = "no";          // yes: each hub nick in a tag in a colour of its own
};

// The hub side's settings.
struct DCConfig {
    std::string dc_server = "127.0.0.1";        // host name, IPv4 or IPv6 address
    std::int32_t dc_port = 411;                  // TCP port of the hub
    std::string dc_nick = "brivox";             // the bot's nick on the hub
    std::string dc_pass;                         // password sent when the hub asks
    std::string dc_description = "brivox gate bot";  // description in $MyINFO
    std::string dc_speed = "100";               // connection text in $MyINFO
    std::int32_t dc_speed_val = 1;               // low 8 bits: status byte after dc_speed
    std::string dc_email = "brivox@example.invalid";  // e-mail text in $MyINFO
    std::string dc_share_size = "1073741825";   // share size, kept as decimal text
    std::string dc_encoding = "UTF-8";          // the hub's character set, as iconv names it
    std::string dc_tls = "no";                   // yes: TLS from the first byte
    std::string dc_tls_verify = "yes";           // no: accept any certificate
    std::int32_t dc_message_interval = 3000;     // ms between the bot's chat messages to the hub; 0: no pacing
    std::int32_t dc_message_max_bytes = 256;     // bytes of text one message of the bot carries, as the hub counts them
    std::int32_t dc_message_max_lines = 5;       // lines one message of the bot carries
};

// A configuration file is a few dozen lines; far beyond this it is not one.
constexpr std::size_t kMaxConfigBytes = 1024 * 1024;

// A value the daemon cannot use, and where it stands.
struct ConfigProblem {
    std::string key;
    std::size_t line = 0;  // its line in the file; 0 when the key is not in it
    std::string text;      // what is wrong with it

    // "brivox.conf:12: irc_port: 70000 is not a port (1..65535)"
    std::string describe(const std::string& path) const;
};

// What loading found wrong, in sentences for the log.
struct ConfigDiagnostics {
    std::string failure;                 // why the file could not be loaded
    std::vector<std::string> warnings;   // unknown keys, a bounded number of lines
    std::vector<ConfigProblem> problems;  // every value that breaks its key's rule
};

// The whole configuration.
struct Config {
    IRCConfig irc;                               // IRC settings
    DCConfig dc;                                 // hub settings
    std::string logfile;                         // log file used in the background
    std::string pidfile;                         // empty: no pidfile
    std::int32_t loglevel = 11;                  // log mask: Error, Warning, Notice
    std::int32_t use_syslog = 0;                 // nonzero: syslog in the background
    std::string ignore_nicks;                    // comma-separated speakers never relayed
    std::string relay_presence = "no";           // yes: who joins and leaves is told on the other side
    std::int32_t reconnect_delay_min = 10;       // s before the first new attempt after a failure
    std::int32_t reconnect_delay_max = 300;      // s the delay doubles up to
    std::map<std::string, std::string> rawValues;  // every pair read from the file
    std::map<std::string, std::size_t> keyLines;   // the line each key was read from

    // Reads the file at path. False when it is not a regular file of at most
    // kMaxConfigBytes or cannot be read; the record is then left as it was.
    bool load(const std::string& path);
    // The same, saying why it failed, what the file holds that is worth a
    // warning (unknown keys with their line numbers), and every value that
    // the daemon cannot use.
    bool load(const std::string& path, ConfigDiagnostics& diagnostics);
    // Every value of the record that breaks its key's rule.
    std::vector<ConfigProblem> problems() const;
};

// What a key's value must be.
struct SettingRule {
    enum class Kind { Text, Number, Switch };
    Kind kind;
    std::string_view forbidden;  // Text: bytes it may not hold
    std::size_t maxBytes = 0;    // Text: its longest length
    bool required = false;       // Text: it may not be empty
    std::int32_t min = 0;        // Number: its range
    std::int32_t max = 0;
    const char* noun = nullptr;  // Number: what the range makes it ("a port")
    // A rule beyond bytes and ranges (a file to read, a character set, a
    // key it needs): what is wrong, or an empty text.
    std::string (*check)(const Config& config) = nullptr;
};

// One entry of the key table: the key, its rule, and the field it fills.
struct ConfigKey {
    const char* key;
    SettingRule rule;
    std::int32_t* (*intField)(Config&);          // set for numbers only
    std::string* (*stringField)(Config&);        // set for texts and switches
};

// The known keys in table order, ended by a marker whose key is empty.
extern const ConfigKey configKeys[];

// text converted as strtol does with base 10, keeping the low 32 bits.
std::int32_t parseInt32(const std::string& text);

// text without every leading and trailing occurrence of c.
std::string trim(std::string text, char c);
