#include "frame/Config.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "frame/printable.h"

#define STRING_KEY(name, part) \
    { #name, 's', nullptr, [](Config& c) -> std::string* { return &c.part name; } }
#define INT_KEY(name, part) \
    { #name, 'i', [](Config& c) -> std::int32_t* { return &c.part name; }, nullptr }

const ConfigKey configKeys[] = {
    STRING_KEY(irc_server, irc.),
    INT_KEY(irc_port, irc.),
    STRING_KEY(irc_nick, irc.),
    STRING_KEY(irc_username, irc.),
    STRING_KEY(irc_password, irc.),
    STRING_KEY(irc_realname, irc.),
    STRING_KEY(irc_channel, irc.),
    STRING_KEY(dc_server, dc.),
    INT_KEY(dc_port, dc.),
    STRING_KEY(dc_nick, dc.),
    STRING_KEY(dc_pass, dc.),
    STRING_KEY(dc_description, dc.),
    STRING_KEY(dc_speed, dc.),
    INT_KEY(dc_speed_val, dc.),
    STRING_KEY(dc_email, dc.),
    STRING_KEY(dc_share_size, dc.),
    STRING_KEY(logfile, ),
    STRING_KEY(pidfile, ),
    INT_KEY(loglevel, ),
    INT_KEY(use_syslog, ),
    INT_KEY(irc_burst_lines, irc.),
    INT_KEY(irc_line_interval, irc.),
    STRING_KEY(dc_encoding, dc.),
    STRING_KEY(ignore_nicks, ),
    INT_KEY(irc_queue_max_age, irc.),
    STRING_KEY(irc_tls, irc.),
    STRING_KEY(irc_tls_verify, irc.),
    STRING_KEY(irc_tls_cert, irc.),
    STRING_KEY(irc_sasl_user, irc.),
    STRING_KEY(irc_sasl_password, irc.),
    STRING_KEY(irc_channel_key, irc.),
    STRING_KEY(dc_tls, dc.),
    STRING_KEY(dc_tls_verify, dc.),
    {"", 0, nullptr, nullptr},
};

#undef STRING_KEY
#undef INT_KEY

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
    for (const ConfigKey* entry = configKeys; entry->type != 0; ++entry)
        if (key == entry->key)
            return true;
    return false;
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

    std::size_t start = 0;
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
            rawValues[pair->first] = std::move(pair->second);
        }
        start = end + 1;
    }
    if (unknownKeys > kMaxUnknownKeyWarnings)
        diagnostics.warnings.push_back("... and " + std::to_string(unknownKeys - kMaxUnknownKeyWarnings) +
                                       " more unknown keys");

    for (const ConfigKey* entry = configKeys; entry->type != 0; ++entry) {
        const auto found = rawValues.find(entry->key);
        if (found == rawValues.end())
            continue;
        if (entry->type == 's')
            *entry->stringField(*this) = found->second;
        else
            *entry->intField(*this) = parseInt32(found->second);
    }
    return true;
}

Config::Config(const IRCConfig& ircSettings, const DCConfig& dcSettings, const Config& general)
    : irc(ircSettings),
      dc(dcSettings),
      logfile(general.logfile),
      pidfile(general.pidfile),
      loglevel(general.loglevel),
      use_syslog(general.use_syslog),
      ignore_nicks(general.ignore_nicks) {}
