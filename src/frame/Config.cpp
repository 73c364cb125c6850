#include "frame/Config.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

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

// The whole file, or false when it cannot be opened or a read fails (a
// directory opens on some systems and only fails when read).
bool readWholeFile(const std::string& path, std::string& contents) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file)
        return false;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        contents.append(chunk, got);
    if (std::ferror(file.get())) {
        if (errno == 0)
            errno = EIO;
        return false;
    }
    return true;
}

void parseLine(std::string line, std::map<std::string, std::string>& values) {
    line = trim(line, ' ');
    const std::size_t comment = line.find(';');
    if (comment != std::string::npos)
        line.erase(comment);
    if (line.empty())
        return;
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos)
        return;
    std::string key = trim(line.substr(0, equals), ' ');
    std::string value = trim(line.substr(equals + 1), ' ');
    value = trim(trim(value, '\''), '"');
    values[key] = value;
}

}  // namespace

// Out-of-range values saturate in strtol; the low 32 bits of that are kept.
std::int32_t parseInt32(const std::string& text) {
    const long wide = std::strtol(text.c_str(), nullptr, 10);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<unsigned long>(wide)));
}

bool Config::load(const std::string& path) {
    std::string contents;
    if (!readWholeFile(path, contents))
        return false;

    std::map<std::string, std::string> values;
    std::size_t start = 0;
    while (start < contents.size()) {
        std::size_t end = contents.find('\n', start);
        const bool hasNewline = end != std::string::npos;
        if (!hasNewline)
            end = contents.size();
        std::size_t length = end - start;
        // A CRLF file: the carriage return before the newline ends the line too.
        if (hasNewline && length > 0 && contents[end - 1] == '\r')
            --length;
        parseLine(contents.substr(start, length), values);
        start = end + 1;
    }

    for (auto& [key, value] : values)
        rawValues[key] = value;
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
      use_syslog(general.use_syslog) {}
