// The configuration file, then the clients' and the Translator's settings.
// Properties: loading never throws and warns a bounded number of times;
// settings a client accepts hold nothing that breaks a protocol line; a
// Translator that accepts a channel relays a message to it without throwing
// (a NUL in irc_channel once ended the daemon on its first channel line).
// A certificate file the settings name is read only when it is a regular
// file, so a device named there cannot hang the run.
#include <string>
#include <unistd.h>

#include "FuzzCheck.h"
#include "dc/DCClient.h"
#include "irc/IRCClient.h"
#include "translator/Translator.h"

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

void checkIrcSettings(const IRCConfig& irc) {
    for (const std::string* value : {&irc.irc_nick, &irc.irc_username, &irc.irc_password, &irc.irc_channel})
        FUZZ_CHECK(!holdsAny(*value, std::string_view("\0\r\n ", 4)), "an accepted IRC word breaks no line");
    FUZZ_CHECK(!holdsAny(irc.irc_channel, ",\a"), "an accepted channel is one channel");
    FUZZ_CHECK(!holdsAny(irc.irc_channel_key, std::string_view("\0\r\n ,", 5)), "an accepted key is one JOIN word");
    FUZZ_CHECK(!holdsAny(irc.irc_sasl_user + irc.irc_sasl_password, std::string_view("\0", 1)),
               "an accepted SASL identity keeps PLAIN's fields apart");
    FUZZ_CHECK(irc.irc_channel.size() <= 200 && irc.irc_nick.size() <= 64, "accepted values fit a line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    writeFile(std::string_view(reinterpret_cast<const char*>(data), size));
    Config config;
    ConfigDiagnostics diagnostics;
    if (!config.load(scratchFile(), diagnostics))
        return 0;
    FUZZ_CHECK(diagnostics.warnings.size() <= 11, "unknown keys cost a bounded number of lines");

    IRCClient irc;
    if (irc.setConfig(config.irc))
        checkIrcSettings(irc.getConfig());
    DCClient dc;
    if (dc.setConfig(config.dc))
        FUZZ_CHECK(!holdsAny(dc.getConfig().dc_nick, std::string_view("\0\r\n $|", 6)), "an accepted hub nick");

    Translator translator;
    if (translator.setConfig(Config(config.irc, config.dc, config))) {
        std::string line = ":alice!a@h PRIVMSG " + config.irc.irc_channel + " :hello";
        translator.IRCtoDC(line, line);
        std::vector<std::string> lines;
        translator.DCtoIRC("<carol> hello", lines);
    }
    return 0;
}
