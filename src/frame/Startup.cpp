#include "frame/Startup.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "frame/CommandLine.h"
#include "frame/Config.h"
#include "frame/Log.h"
#include "frame/Pidfile.h"
#include "adc/ADCClient.h"
#include "dc/DCClient.h"
#include "net/HubAddress.h"
#include "frame/Relay.h"
#include "irc/IRCClient.h"
#include "frame/stopSignals.h"
#include "frame/yesNo.h"
#include "platform.h"

#if defined(HAVE_MALLOC_TRIM) || defined(HAVE_MALLOPT_MMAP_THRESHOLD)
#include <malloc.h>
#endif

namespace {

// A daemon started with standard input, output or error closed would get its
// log file or a socket as descriptor 0, 1 or 2: daemon() would then point it
// at /dev/null, or log lines would go into the IRC link. Those descriptors
// are filled with /dev/null before anything else is opened.
void openMissingStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        const int opened = open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

// What start-up read and no longer needs (every pair of the configuration
// file) goes back to the system for the months the daemon runs. Where the C
// library cannot be asked, its allocator returns free memory on its own.
void releaseStartupMemory() {
#ifdef HAVE_MALLOC_TRIM
    malloc_trim(0);
#endif
}

// Buffers that grow in a burst come from mmap and go back to the system as
// soon as they are freed. Left to itself, glibc raises this threshold to the
// size of the first large block freed and keeps later ones on its heap.
void keepLargeBuffersReturnable() {
#ifdef HAVE_MALLOPT_MMAP_THRESHOLD
    mallopt(M_MMAP_THRESHOLD, 64 * 1024);
#endif
}

// Which side's settings a key belongs to, in the line that follows its
// problems.
const char* incorrectConfigLine(const std::string& key) {
    if (key.compare(0, 4, "irc_") == 0)
        return "Incorrect config for IRC";
    if (key.compare(0, 3, "dc_") == 0)
        return "Incorrect config for DC++";
    return "Incorrect config";
}

// Every problem of the file with its line, then one line per part of the
// settings that has any.
void reportProblems(const std::vector<ConfigProblem>& problems, const std::string& path) {
    std::vector<const char*> parts;
    for (const ConfigProblem& problem : problems) {
        logMessage(Error, problem.describe(path));
        const char* part = incorrectConfigLine(problem.key);
        if (std::find(parts.begin(), parts.end(), part) == parts.end())
            parts.push_back(part);
    }
    for (const char* part : parts)
        logMessage(Error, part);
}

// Loads the file and sets the log mask; what the file holds beyond the
// settings is reported here and not kept for the run. A check (-t) shows
// at least errors and warnings, whatever the file asks.
bool loadConfig(Config& config, const CommandLine& commandLine) {
    ConfigDiagnostics diagnostics;
    if (!config.load(commandLine.configPath, diagnostics)) {
        logMessage(Error, "Failed to load config. Exiting: " + diagnostics.failure);
        return false;
    }
    const int mask = commandLine.levelGiven ? commandLine.levelOverride : config.loglevel;
    setLogMask(commandLine.checkOnly ? mask | Error | Warning : mask);
    for (const std::string& warning : diagnostics.warnings)
        logMessage(Warning, warning);
    reportProblems(diagnostics.problems, commandLine.configPath);
    return diagnostics.problems.empty();
}

// In the background the sink is chosen just before detaching, so that a log
// file that cannot be opened is still reported on the operator's terminal.
int goToBackground(const Config& config) {
    if (!initLogging(config.use_syslog != 0, config.logfile))
        logMessage(Error, "Unable to initalize logging");
    if (daemon(1, 0) < 0) {
        logMessage(Error, "daemon() failed, exiting", true);
        return 1;
    }
    return 0;
}

// The client for the protocol the address names (the configuration has
// checked that this build speaks it).
std::unique_ptr<HubClient> hubClientFor(const DCConfig& config) {
    std::string why;
    const std::optional<HubAddress> address = parseHubAddress(config.dc_server, why);
    if (address && address->protocol == HubAddress::Protocol::Adc)
        return std::make_unique<ADCClient>();
    return std::make_unique<DCClient>();
}

void configureClients(const Config& config, Translator& translator, IRCClient& irc, HubClient& hub) {
    const std::chrono::seconds first(config.reconnect_delay_min);
    const std::chrono::seconds longest(config.reconnect_delay_max);
    irc.setConfig(config.irc);
    irc.setReconnectDelays(first, longest);
    hub.setConfig(config.dc);
    hub.setReconnectDelays(first, longest);
    // The bot's chat waits for the hub as long as for the IRC server.
    hub.setQueueMaxAge(std::chrono::seconds(config.irc.irc_queue_max_age));
    translator.setConfig(config);
}

}  // namespace

int startBrivox(int argc, char* argv[]) {
    openMissingStandardDescriptors();
    keepLargeBuffersReturnable();
    // Destroyed in reverse order on every return: the hub client says
    // goodbye, the IRC client QUIT, when they are logged in.
    Config config;
    Translator translator;
    IRCClient irc;
    std::unique_ptr<HubClient> hub;
    CommandLine commandLine;
    if (!commandLine.parse(argc, argv)) {
        printUsage();
        return 0;
    }
    if (commandLine.versionOnly) {
        printVersionAndFeatures();
        return 0;
    }
    // A write to a peer that has gone comes back as EPIPE instead of ending
    // the process.
    std::signal(SIGPIPE, SIG_IGN);
    catchStopSignals();

    const bool loaded = loadConfig(config, commandLine);
    if (commandLine.checkOnly) {
        if (loaded)
            std::printf("Configuration file %s is valid\n", commandLine.configPath.c_str());
        return loaded ? 0 : 1;
    }
    if (!loaded)
        return 1;
    if (!commandLine.logfileOverride.empty())
        config.logfile = commandLine.logfileOverride;
    if (!commandLine.pidfileOverride.empty())
        config.pidfile = commandLine.pidfileOverride;

    if (commandLine.background) {
        const int status = goToBackground(config);
        if (status != 0)
            return status;
    }
    if (!config.pidfile.empty() && !writePidfile(config.pidfile))
        logMessage(Error, "Unable to write pidfile", true);

    // The hub's protocol follows from its address.
    hub = hubClientFor(config.dc);
    configureClients(config, translator, irc, *hub);
    releaseStartupMemory();
    RelayOptions options;
    options.presence = parseYesNo(config.relay_presence).value_or(false);
    options.channel = config.irc.irc_channel;
    options.server = config.irc.irc_server;
    options.hub = config.dc.dc_server;
    Relay relay(translator, irc, *hub, options);
    return relay.run();
}
