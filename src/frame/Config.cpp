#include "frame/Config.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "adc/tiger.h"
#include "dc/DCConnection.h"
#include "dc/HubCharset.h"
#include "frame/printable.h"
#include "frame/yesNo.h"
#include "irc/IRCMessage.h"
#include "irc/relayedNick.h"
#include "net/HubAddress.h"
#include "net/TlsSession.h"

namespace {

// What no file name or list may hold: it could not be opened or passed on.
constexpr std::string_view kNul{"\0", 1};
// Paths and lists far beyond this are no one's.
constexpr std::size_t kMaxPathBytes = 4096;
// A registration line is at most 510 bytes; these leave room for the
// command word, the "_" a retried nick gains and the other parameters.
constexpr std::size_t kMaxNickBytes = 64;
constexpr std::size_t kMaxTextBytes = 255;
// RFC 1459's limit; a PRIVMSG must still leave room for the text.
constexpr std::size_t kMaxChannelBytes = 200;
// A relayed nick's suffix is short: the server's nick length bounds the
// whole nick.
constexpr std::size_t kMaxSuffixBytes = 16;
// The speed and share-size fields are short in any real client.
constexpr std::size_t kMaxShortFieldBytes = 64;

constexpr SettingRule text(std::string_view forbidden, std::size_t maxBytes, bool required = false,
                           std::string (*check)(const Config&) = nullptr) {
    SettingRule rule{SettingRule::Kind::Text, forbidden, maxBytes, required};
    rule.check = check;
    return rule;
}
constexpr SettingRule number(std::int32_t min, std::int32_t max, const char* noun = nullptr,
                             std::string (*check)(const Config&) = nullptr) {
    SettingRule rule{SettingRule::Kind::Number, std::string_view(), 0};
    rule.min = min;
    rule.max = max;
    rule.noun = noun;
    rule.check = check;
    return rule;
}
constexpr SettingRule yesNo(std::string (*check)(const Config&) = nullptr) {
    SettingRule rule{SettingRule::Kind::Switch, std::string_view(), 0};
    rule.check = check;
    return rule;
}
constexpr SettingRule kPort = number(1, 65535, "a port");
constexpr SettingRule kAnyNumber = number(INT32_MIN, INT32_MAX);

bool isYes(const std::string& value) { return parseYesNo(value).value_or(false); }

std::string builtWithTls(const std::string& value) {
    return isYes(value) && !TlsSession::available() ? "yes, but brivox was built without TLS" : std::string();
}
std::string ircTlsAvailable(const Config& c) { return builtWithTls(c.irc.irc_tls); }
std::string dcTlsAvailable(const Config& c) { return builtWithTls(c.dc.dc_tls); }

std::string usableCertificate(const Config& c) {
    if (c.irc.irc_tls_cert.empty())
        return std::string();
    if (!isYes(c.irc.irc_tls))
        return "is set, but irc_tls is no";
    const std::string problem = TlsSession::certificateFileProblem(c.irc.irc_tls_cert);
    return problem.empty() ? problem : "\"" + c.irc.irc_tls_cert + "\" " + problem;
}

// SASL needs a user, and either a password (PLAIN) or a client certificate
// (EXTERNAL).
std::string saslUserHasAWayIn(const Config& c) {
    if (!c.irc.irc_sasl_user.empty() && c.irc.irc_sasl_password.empty() && c.irc.irc_tls_cert.empty())
        return "needs irc_sasl_password, or irc_tls_cert for EXTERNAL";
    return std::string();
}
std::string saslPasswordHasAUser(const Config& c) {
    return c.irc.irc_sasl_user.empty() && !c.irc.irc_sasl_password.empty() ? "is set without irc_sasl_user"
                                                                          : std::string();
}

// NMDC's commands and separators are ASCII: only a set that writes ASCII as
// ASCII can carry them.
std::string usableCharset(const Config& c) {
    if (!HubCharset::isKnown(c.dc.dc_encoding))
        return "iconv(3) has no character set \"" + c.dc.dc_encoding + "\" (try UTF-8, CP1251, CP1252, KOI8-R)";
    if (!HubCharset::keepsAscii(c.dc.dc_encoding))
        return "\"" + c.dc.dc_encoding + "\" does not write ASCII as ASCII, which NMDC needs (try UTF-8, CP1251, " +
               "CP1252, KOI8-R)";
    return std::string();
}

// The status byte goes into $MyINFO raw: neither of its separators.
std::string statusByteIsNoSeparator(const Config& c) {
    return c.dc.dc_speed_val == '$' || c.dc.dc_speed_val == '|'
               ? std::to_string(c.dc.dc_speed_val) + " is '" + static_cast<char>(c.dc.dc_speed_val) +
                     "', which $MyINFO cannot carry"
               : std::string();
}

// An address of a protocol or a TLS this build has, and a TLS switch that
// agrees with the address's scheme.
std::string usableHubAddress(const Config& c) {
    std::string why;
    const std::optional<HubAddress> address = parseHubAddress(c.dc.dc_server, why);
    if (!address)
        return "\"" + printable(c.dc.dc_server) + "\" " + why;
    if (address->protocol == HubAddress::Protocol::Adc && !tigerAvailable())
        return "names an ADC hub, but brivox was built without ADC (it needs libgcrypt)";
    if (address->tls == true && !TlsSession::available())
        return "names a TLS hub, but brivox was built without TLS";
    if (address->tls == false && isYes(c.dc.dc_tls))
        return "names a hub without TLS (" + std::string(address->scheme) + "), but dc_tls is yes";
    return std::string();
}

std::string suffixFitsInNicks(const Config& c) {
    for (const char byte : c.irc.irc_relaymsg_suffix)
        if (!fitsInNick(byte))
            return "holds " + printable(std::string(1, byte)) + ", which no nick may hold";
    return std::string();
}

std::string longestDelayNotShorter(const Config& c) {
    return c.reconnect_delay_max < c.reconnect_delay_min
               ? "is below reconnect_delay_min (" + std::to_string(c.reconnect_delay_min) + ")"
               : std::string();
}

}  // namespace

#define TEXT_KEY(name, part, rule) \
    { #name, rule, nullptr, [](Config& c) -> std::string* { return &c.part name; } }
#define NUMBER_KEY(name, part, rule) \
    { #name, rule, [](Config& c) -> std::int32_t* { return &c.part name; }, nullptr }

const ConfigKey configKeys[] = {
    TEXT_KEY(irc_server, irc., text(kIrcWordBreakers, kMaxTextBytes, true)),
    NUMBER_KEY(irc_port, irc., kPort),
    TEXT_KEY(irc_nick, irc., text(kIrcWordBreakers, kMaxNickBytes, true)),
    TEXT_KEY(irc_username, irc., text(kIrcWordBreakers, kMaxNickBytes, true)),
    TEXT_KEY(irc_password, irc., text(kIrcWordBreakers, kMaxTextBytes)),
    TEXT_KEY(irc_realname, irc., text(kIrcLineBreakers, kMaxTextBytes)),
    TEXT_KEY(irc_channel, irc., text(kIrcChannelBreakers, kMaxChannelBytes, true)),
    TEXT_KEY(dc_server, dc., text(kNmdcWordBreakers, kMaxTextBytes, true, usableHubAddress)),
    NUMBER_KEY(dc_port, dc., kPort),
    TEXT_KEY(dc_nick, dc., text(kNmdcNickBreakers, kMaxNickBytes, true)),
    TEXT_KEY(dc_pass, dc., text(kNmdcWordBreakers, kMaxTextBytes)),
    TEXT_KEY(dc_description, dc., text(kNmdcFieldBreakers, kMaxTextBytes)),
    TEXT_KEY(dc_speed, dc., text(kNmdcFieldBreakers, kMaxShortFieldBytes, true)),
    NUMBER_KEY(dc_speed_val, dc., number(1, 255, "a status byte", statusByteIsNoSeparator)),
    TEXT_KEY(dc_email, dc., text(kNmdcFieldBreakers, kMaxTextBytes)),
    TEXT_KEY(dc_share_size, dc., text(kNmdcFieldBreakers, kMaxShortFieldBytes)),
    TEXT_KEY(logfile, , text(kNul, kMaxPathBytes)),
    TEXT_KEY(pidfile, , text(kNul, kMaxPathBytes)),
    NUMBER_KEY(loglevel, , kAnyNumber),
    NUMBER_KEY(use_syslog, , kAnyNumber),
    NUMBER_KEY(irc_burst_lines, irc., number(1, 10000)),
    NUMBER_KEY(irc_line_interval, irc., number(0, 3600 * 1000)),
    TEXT_KEY(dc_encoding, dc., text(kNul, kMaxShortFieldBytes, true, usableCharset)),
    TEXT_KEY(ignore_nicks, , text(kNul, kMaxPathBytes)),
    NUMBER_KEY(irc_queue_max_age, irc., number(0, 24 * 3600)),
    TEXT_KEY(irc_tls, irc., yesNo(ircTlsAvailable)),
    TEXT_KEY(irc_tls_verify, irc., yesNo()),
    TEXT_KEY(irc_tls_cert, irc., text(kNul, kMaxPathBytes, false, usableCertificate)),
    TEXT_KEY(irc_sasl_user, irc., text(kNul, kMaxTextBytes, false, saslUserHasAWayIn)),
    TEXT_KEY(irc_sasl_password, irc., text(kNul, kMaxTextBytes, false, saslPasswordHasAUser)),
    TEXT_KEY(irc_channel_key, irc., text(kIrcKeyBreakers, kMaxTextBytes)),
    TEXT_KEY(dc_tls, dc., yesNo(dcTlsAvailable)),
    TEXT_KEY(dc_tls_verify, dc., yesNo()),
    NUMBER_KEY(reconnect_delay_min, , number(1, 3600)),
    NUMBER_KEY(reconnect_delay_max, , number(1, 24 * 3600, nullptr, longestDelayNotShorter)),
    NUMBER_KEY(dc_message_interval, dc., number(0, 3600 * 1000)),
    NUMBER_KEY(dc_message_max_bytes, dc., number(64, 64 * 1024)),
    NUMBER_KEY(dc_message_max_lines, dc., number(1, 1000)),
    TEXT_KEY(relay_presence, , yesNo()),
    TEXT_KEY(irc_relaymsg, irc., yesNo()),
    TEXT_KEY(irc_relaymsg_suffix, irc., text(kNul, kMaxSuffixBytes, false, suffixFitsInNicks)),
    TEXT_KEY(irc_nick_nohighlight, irc., yesNo()),
    TEXT_KEY(irc_nick_colors, irc., yesNo()),
    {"", text(kNul, 0), nullptr, nullptr},
};

#undef TEXT_KEY
#undef NUMBER_KEY

std::string trim(std::string text, char c) {
    const std::size_t first = text.find_first_not_of(c);
    if (first == std::string::npos)
        return std::string();
    const std::size_t last = text.find_last_not_of(c);
    return text.substr(first, last - first + 1);
}

namespace {

// Reads a regular file of at most kMaxConfigBytes from fd, or says why not.
bool readRegularFile(int fd, const std::string& path, std::string& contents, std::string& failure) {
    struct stat status;
    if (fstat(fd, &status) != 0) {
        failure = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        failure = path + " is not a regular file";
        return false;
    }
    char chunk[4096];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got == 0)
            return true;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            failure = std::strerror(errno);
            return false;
        }
        contents.append(chunk, static_cast<std::size_t>(got));
        if (contents.size() > kMaxConfigBytes) {
            failure = path + " is larger than " + std::to_string(kMaxConfigBytes) + " bytes";
            return false;
        }
    }
}

// Only a regular file will do: a FIFO would block the start for ever (it is
// opened here without waiting for a writer), and /dev/zero never ends.
bool readWholeFile(const std::string& path, std::string& contents, std::string& failure) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        failure = std::strerror(errno);
        return false;
    }
    const bool read = readRegularFile(fd, path, contents, failure);
    close(fd);
    return read;
}

bool isKnownKey(const std::string& key) {
    for (const ConfigKey* entry = configKeys; entry->key[0] != '\0'; ++entry)
        if (key == entry->key)
            return true;
    return false;
}

// A decimal whole number, with an optional sign, and nothing else.
std::optional<long long> parseWholeNumber(const std::string& text) {
    const std::size_t at = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    // 18 digits still fit a long long.
    if (at == text.size() || text.size() - at > 18)
        return std::nullopt;
    for (std::size_t i = at; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    return std::stoll(text);
}

std::string outOfRange(long long value, const SettingRule& rule) {
    const std::string range = "(" + std::to_string(rule.min) + ".." + std::to_string(rule.max) + ")";
    return std::to_string(value) + (rule.noun ? std::string(" is not ") + rule.noun + " " : " is out of range ") +
           range;
}

// Sets the field from the text; what is wrong with the text when it cannot.
std::string setField(Config& config, const ConfigKey& entry, const std::string& value) {
    if (entry.stringField) {
        *entry.stringField(config) = value;
        return std::string();
    }
    const std::optional<long long> parsed = parseWholeNumber(value);
    if (!parsed)
        return "\"" + printable(value) + "\" is not a whole number";
    if (*parsed < entry.rule.min || *parsed > entry.rule.max)
        return outOfRange(*parsed, entry.rule);
    *entry.intField(config) = static_cast<std::int32_t>(*parsed);
    return std::string();
}

std::string textProblem(const std::string& value, const SettingRule& rule) {
    const std::size_t bad = value.find_first_of(rule.forbidden);
    if (bad != std::string::npos)
        return "holds \"" + printable(value.substr(bad, 1)) + "\", which the protocol does not allow there";
    if (value.size() > rule.maxBytes)
        return "is " + std::to_string(value.size()) + " bytes long; at most " + std::to_string(rule.maxBytes) +
               " fit";
    if (rule.required && value.empty())
        return "must not be empty";
    return std::string();
}

// What breaks the rule in the value the record holds.
std::string ruleProblem(Config& config, const ConfigKey& entry) {
    std::string problem;
    switch (entry.rule.kind) {
    case SettingRule::Kind::Text:
        problem = textProblem(*entry.stringField(config), entry.rule);
        break;
    case SettingRule::Kind::Number: {
        const std::int32_t value = *entry.intField(config);
        if (value < entry.rule.min || value > entry.rule.max)
            problem = outOfRange(value, entry.rule);
        break;
    }
    case SettingRule::Kind::Switch:
        if (!parseYesNo(*entry.stringField(config)))
            problem = "\"" + printable(*entry.stringField(config)) + "\" is not yes or no";
        break;
    }
    if (problem.empty() && entry.rule.check)
        problem = entry.rule.check(config);
    return problem;
}

// A file of thousands of misspelt keys gets a bounded number of lines.
constexpr std::size_t kMaxUnknownKeyWarnings = 10;

void noteUnknownKey(const std::string& key, std::size_t lineNumber, std::size_t& unknownKeys,
                    std::vector<std::string>& warnings) {
    if (++unknownKeys <= kMaxUnknownKeyWarnings)
        warnings.push_back("Unknown key \"" + printable(key) + "\" on line " + std::to_string(lineNumber) +
                           " of the configuration file; ignored");
}

// The key and the value of one line; nothing for a blank or comment line
// and for a line without '='.
std::optional<std::pair<std::string, std::string>> parseLine(std::string line) {
    line = trim(line, ' ');
    const std::size_t comment = line.find(';');
    if (comment != std::string::npos)
        line.erase(comment);
    if (line.empty())
        return std::nullopt;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos)
        return std::nullopt;
    std::string key = trim(line.substr(0, equals), ' ');
    std::string value = trim(line.substr(equals + 1), ' ');
    return std::make_pair(std::move(key), trim(trim(value, '\''), '"'));
}

}  // namespace

// Out-of-range values saturate in strtol; the low 32 bits of that are kept.
std::int32_t parseInt32(const std::string& text) {
    const long wide = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<unsigned long>(wide)));
}

bool Config::load(const std::string& path) {
    ConfigDiagnostics ignored;
    return load(path, ignored);
}

bool Config::load(const std::string& path, ConfigDiagnostics& diagnostics) {
    std::string contents;
    if (!readWholeFile(path, contents, diagnostics.failure))
        return false;

    // Some editors begin a UTF-8 file with an invisible byte-order mark; it
    // would otherwise become part of the first key.
    const std::string_view byteOrderMark = "\xef\xbb\xbf";
    std::size_t start = contents.compare(0, byteOrderMark.size(), byteOrderMark) == 0 ? byteOrderMark.size() : 0;
    std::size_t lineNumber = 0;
    std::size_t unknownKeys = 0;
    while (start < contents.size()) {
        std::size_t end = contents.find('\n', start);
        const bool hasNewline = end != std::string::npos;
        if (!hasNewline)
            end = contents.size();
        std::size_t length = end - start;
        // A CRLF file: the carriage return before the newline ends the line too.
        if (hasNewline && length > 0 && contents[end - 1] == '\r')
            --length;
        ++lineNumber;
        if (auto pair = parseLine(contents.substr(start, length))) {
            if (!isKnownKey(pair->first))
                noteUnknownKey(pair->first, lineNumber, unknownKeys, diagnostics.warnings);
            keyLines[pair->first] = lineNumber;
            rawValues[pair->first] = std::move(pair->second);
        }
        start = end + 1;
    }
    if (unknownKeys > kMaxUnknownKeyWarnings)
        diagnostics.warnings.push_back("... and " + std::to_string(unknownKeys - kMaxUnknownKeyWarnings) +
                                       " more unknown keys");

    std::vector<std::string> unreadable;
    for (const ConfigKey* entry = configKeys; entry->key[0] != '\0'; ++entry) {
        const auto found = rawValues.find(entry->key);
        if (found == rawValues.end())
            continue;
        const std::string problem = setField(*this, *entry, found->second);
        if (!problem.empty()) {
            diagnostics.problems.push_back({entry->key, keyLines[entry->key], problem});
            unreadable.push_back(entry->key);
        }
    }
    // A value that could not be read leaves the default, which is no news.
    for (ConfigProblem& problem : problems())
        if (std::find(unreadable.begin(), unreadable.end(), problem.key) == unreadable.end())
            diagnostics.problems.push_back(std::move(problem));
    // In the order of the file, as the operator reads it; keys the file does
    // not hold (line 0, which the subtraction turns into the largest) last.
    std::stable_sort(diagnostics.problems.begin(), diagnostics.problems.end(),
                     [](const ConfigProblem& a, const ConfigProblem& b) { return a.line - 1 < b.line - 1; });
    return true;
}

std::vector<ConfigProblem> Config::problems() const {
    std::vector<ConfigProblem> found;
    // The table's accessors serve loading too; reading through them
    // changes nothing.
    Config& self = const_cast<Config&>(*this);
    for (const ConfigKey* entry = configKeys; entry->key[0] != '\0'; ++entry) {
        const std::string problem = ruleProblem(self, *entry);
        if (!problem.empty()) {
            const auto line = keyLines.find(entry->key);
            found.push_back({entry->key, line == keyLines.end() ? 0 : line->second, problem});
        }
    }
    return found;
}

std::string ConfigProblem::describe(const std::string& path) const {
    return path + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + key + ": " + text;
}
