// The configuration file and the rules of its keys. Properties: loading
// never throws and warns a bounded number of times; every problem names a
// key of the table and a line of the file; settings without a problem hold
// nothing that breaks a protocol line. A certificate file the settings name
// is read only when it is a regular file, so a device named there cannot
// hang the run.
#include <algorithm>
#include <string>
#include <unistd.h>

#include "FuzzCheck.h"
#include "frame/Config.h"

namespace {

// One scratch file per process, removed when the run ends.
struct ScratchFile {
    const std::string path = "/tmp/brivox-fuzz-config-" + std::to_string(getpid());
    ~ScratchFile() { unlink(path.c_str()); }
};

const std::string& scratchFile() {
    static const ScratchFile file;
    return file.path;
}

void writeFile(std::string_view contents) {
    FILE* file = std::fopen(scratchFile().c_str(), "wb");
    FUZZ_CHECK(file != nullptr, "scratch file");
    std::fwrite(contents.data(), 1, contents.size(), file);
    std::fclose(file);
}

void checkSettings(const Config& config) {
    const IRCConfig& irc = config.irc;
    for (const std::string* value : {&irc.irc_nick, &irc.irc_username, &irc.irc_password, &irc.irc_channel})
        FUZZ_CHECK(!holdsAny(*value, std::string_view("\0\r\n ", 4)), "an accepted IRC word breaks no line");
    FUZZ_CHECK(!holdsAny(irc.irc_channel, ",\a"), "an accepted channel is one channel");
    FUZZ_CHECK(!holdsAny(irc.irc_channel_key, std::string_view("\0\r\n ,", 5)), "an accepted key is one JOIN word");
    FUZZ_CHECK(!holdsAny(irc.irc_sasl_user + irc.irc_sasl_password, std::string_view("\0", 1)),
               "an accepted SASL identity keeps PLAIN's fields apart");
    FUZZ_CHECK(irc.irc_channel.size() <= 200 && irc.irc_nick.size() <= 64, "accepted values fit a line");
    FUZZ_CHECK(irc.irc_port >= 1 && irc.irc_port <= 65535 && config.dc.dc_port >= 1 && config.dc.dc_port <= 65535,
               "accepted ports are ports");
    FUZZ_CHECK(!holdsAny(config.dc.dc_nick, std::string_view("\0\r\n $|<>", 8)), "an accepted hub nick");
    const DCConfig& dc = config.dc;
    for (const std::string* field : {&dc.dc_description, &dc.dc_speed, &dc.dc_email, &dc.dc_share_size})
        FUZZ_CHECK(std::none_of(field->begin(), field->end(),
                                [](char c) { return c == '$' || c == '|' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }),
                   "an accepted $MyINFO field holds no separator or control byte");
    FUZZ_CHECK(dc.dc_speed_val >= 1 && dc.dc_speed_val <= 255 && dc.dc_speed_val != '$' && dc.dc_speed_val != '|',
               "an accepted status byte is one byte and no separator");
    FUZZ_CHECK(config.reconnect_delay_min >= 1 && config.reconnect_delay_max >= config.reconnect_delay_min,
               "accepted delays wait");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    writeFile(std::string_view(reinterpret_cast<const char*>(data), size));
    Config config;
    ConfigDiagnostics diagnostics;
    if (!config.load(scratchFile(), diagnostics))
        return 0;
    FUZZ_CHECK(diagnostics.warnings.size() <= 11, "unknown keys cost a bounded number of lines");
    for (const ConfigProblem& problem : diagnostics.problems) {
        FUZZ_CHECK(!problem.text.empty(), "a problem says what is wrong");
        FUZZ_CHECK(problem.line == 0 || config.keyLines.at(problem.key) == problem.line, "a problem names its line");
    }
    if (diagnostics.problems.empty())
        checkSettings(config);
    return 0;
}
