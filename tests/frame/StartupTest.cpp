#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <sys/types.h>

#include "LoopbackListener.h"
#include "ProcessRunner.h"
#include "TempDir.h"
#include "adc/tiger.h"
#include "frame/Pidfile.h"
#include "net/TlsSession.h"
#include "platform.h"

#include <unistd.h>

namespace {

const char kUsage[] =
    "brivox " BRIVOX_VERSION "\n"
    "\n"
    "Options:\n"
    "   -h      - show this help message\n"
    "   -c file - specify path to config file\n"
    "   -l file - override path to logfile specified in config\n"
    "   -L num  - override loglevel\n"
    "   -p file - override path to pidfile specified in config\n"
    "   -d      - do not go in background, all logging goes to stderr\n"
    "   -t      - check the configuration and exit\n"
    "   -V      - print the version and what this build supports, and exit\n"
    "\n";

// An IRC server setting nobody answers, so that a run ends at the log-in.
const std::string kNoServer = "irc_port = " + std::to_string(freeLoopbackPort()) + "\n";

}  // namespace

TEST(Startup, UsageTextForHelpUnknownOptionAndMissingArgument) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-h"}, {"-x"}, {"-d", "-L"}, {"-c", "/nonexistent", "-h"}}) {
        ProcessRunner brivox;
        EXPECT_EQ(runBrivoxToEnd(brivox, args), 0) << args[0];
        EXPECT_EQ(brivox.stdoutText(), kUsage) << args[0];
    }
}

// -V names the build's features; the package and the port carry the same
// version as the build.
TEST(Startup, OneVersionEverywhere) {
    ProcessRunner brivox;
    EXPECT_EQ(runBrivoxToEnd(brivox, {"-V"}), 0);
    const std::string features = std::string(TlsSession::available() ? " TLS" : "") + (tigerAvailable() ? " ADC" : "");
    EXPECT_EQ(brivox.stdoutText(), "brivox " BRIVOX_VERSION "\nfeatures:" +
                                       (features.empty() ? std::string(" none (no TLS, no ADC)") : features) + "\n");
    const auto fileText = [](const char* path) {
        std::ifstream file(std::string(BRIVOX_SOURCE_DIR) + path);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    EXPECT_EQ(fileText("/debian/changelog").rfind("brivox (" BRIVOX_VERSION ") ", 0), 0u);
    EXPECT_NE(fileText("/contrib/freebsd/port/Makefile").find("\nDISTVERSION=\t" BRIVOX_VERSION "\n"),
              std::string::npos);
}

TEST(Startup, GetoptReportsABadOptionOnStderr) {
    ProcessRunner brivox;
    EXPECT_EQ(runBrivoxToEnd(brivox, {"-x"}), 0);
    EXPECT_NE(brivox.stderrText().find("x"), std::string::npos);
}

TEST(Startup, MissingConfigFileEndsWithStatusOne) {
    TempDir dir;
    ProcessRunner brivox;
    EXPECT_EQ(runBrivoxToEnd(brivox, {"-d", "-c", dir.file("missing.conf")}), 1);
    EXPECT_NE(brivox.stderrText().find(std::string("Failed to load config. Exiting: ") +
                                       std::strerror(ENOENT) + "\n"),
              std::string::npos)
        << brivox.stderrText();
    EXPECT_EQ(brivox.stdoutText(), "");
    // Options end at the first argument that is not one, on every platform.
    ProcessRunner stopped;
    EXPECT_EQ(runBrivoxToEnd(stopped, {"-d", "-c", dir.file("missing.conf"), "foo", "-h"}), 1);
    EXPECT_EQ(stopped.stdoutText(), "");
}

// Operator mistakes that used to hang the start, exhaust memory or abort it
// on the first channel line.
TEST(Startup, ConfigurationThatIsNoRegularFileOrPutsANulOnTheWireEndsWithStatusOne) {
    TempDir dir;
    const std::string fifo = dir.file("brivox.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero")}) {
        ProcessRunner brivox;
        EXPECT_EQ(runBrivoxToEnd(brivox, {"-d", "-c", path}), 1) << path;
        EXPECT_NE(brivox.stderrText().find("Failed to load config. Exiting: " + path + " is not a regular file\n"),
                  std::string::npos)
            << brivox.stderrText();
    }
    const std::string nul = dir.write("nul.conf", std::string("irc_channel = #c\0more\n", 22) + kNoServer);
    ProcessRunner brivox;
    EXPECT_EQ(runBrivoxToEnd(brivox, {"-d", "-c", nul}), 1);
    EXPECT_NE(brivox.stderrText().find(nul + ":1: irc_channel: holds \"\\x00\""), std::string::npos);
    EXPECT_NE(brivox.stderrText().find("Incorrect config for IRC\n"), std::string::npos);
}

// -t names every mistake of the file with its line and says which side's
// settings are wrong, without connecting anywhere; a good file passes.
TEST(Startup, CheckingTheConfigurationNamesEveryMistakeAndConnectsNowhere) {
    TempDir dir;
    LoopbackListener irc;
    const std::string bad = dir.write("bad.conf", "irc_port = 70000\nirc_channel = #a b\n\ndc_tls = maybe\n");
    ProcessRunner brivox;
    EXPECT_EQ(runBrivoxToEnd(brivox, {"-t", "-c", bad}), 1);
    const std::string log = brivox.stderrText();
    for (const std::string& line : {bad + ":1: irc_port: 70000 is not a port (1..65535)\n",
                                   bad + ":2: irc_channel: holds \" \", which the protocol does not allow there\n",
                                   bad + ":4: dc_tls: \"maybe\" is not yes or no\n",
                                   std::string("Incorrect config for IRC\n"), std::string("Incorrect config for DC++\n")})
        EXPECT_NE(log.find(line), std::string::npos) << line << log;
    const std::string good = dir.write("good.conf", "irc_port = " + std::to_string(irc.port()) + "\n");
    ProcessRunner checked;
    EXPECT_EQ(runBrivoxToEnd(checked, {"-t", "-c", good}), 0);
    EXPECT_EQ(checked.stdoutText(), "Configuration file " + good + " is valid\n");
    EXPECT_FALSE(irc.accept(std::chrono::milliseconds(100)));
}

TEST(Startup, ConfigDirectoryIsReportedLikeAMissingFile) {
    TempDir dir;
    ProcessRunner brivox;
    EXPECT_EQ(runBrivoxToEnd(brivox, {"-d", "-c", dir.path()}), 1);
    EXPECT_NE(brivox.stderrText().find("Failed to load config. Exiting: "), std::string::npos);
}

TEST(Startup, NonNumericLevelSilencesEverythingAfterTheConfigIsLoaded) {
    TempDir dir;
    const std::string config =
        dir.write("brivox.conf", "pidfile = " + dir.file("no/dir/brivox.pid") + "\n" + kNoServer);
    ProcessRunner brivox;
    EXPECT_EQ(runBrivoxToEnd(brivox, {"-d", "-L", "none", "-c", config}), 2);
    EXPECT_EQ(brivox.stderrText(), "");
}

TEST(Startup, ForegroundPidfileHoldsThePidAndANewline) {
    TempDir dir;
    const std::string config = dir.write("brivox.conf", "pidfile = " + dir.file("brivox.pid") + "\n" + kNoServer);
    ProcessRunner brivox;
    ASSERT_EQ(runBrivoxToEnd(brivox, {"-d", "-c", config}), 2);
    EXPECT_EQ(readFile(dir.file("brivox.pid")), std::to_string(brivox.pid()) + "\n");
}

TEST(Startup, PidfileOverrideWinsAndAnEmptyOverrideKeepsTheFile) {
    TempDir dir;
    const std::string config = dir.write("brivox.conf", "pidfile = " + dir.file("file.pid") + "\n" + kNoServer);
    ProcessRunner first;
    ASSERT_EQ(runBrivoxToEnd(first, {"-d", "-c", config, "-p", dir.file("option.pid")}), 2);
    EXPECT_EQ(readFile(dir.file("option.pid")), std::to_string(first.pid()) + "\n");
    EXPECT_EQ(readFile(dir.file("file.pid")), "");
    ProcessRunner second;
    ASSERT_EQ(runBrivoxToEnd(second, {"-d", "-c", config, "-p", ""}), 2);
    EXPECT_EQ(readFile(dir.file("file.pid")), std::to_string(second.pid()) + "\n");
}

TEST(Startup, UnwritablePidfileIsReportedAndTheRunGoesOn) {
    TempDir dir;
    const std::string config =
        dir.write("brivox.conf", "pidfile = " + dir.file("no/dir/brivox.pid") + "\n" + kNoServer);
    ProcessRunner brivox;
    EXPECT_EQ(runBrivoxToEnd(brivox, {"-d", "-c", config}), 2);
    EXPECT_NE(brivox.stderrText().find("Unable to write pidfile: "), std::string::npos);
    EXPECT_NE(brivox.stderrText().find("Connecting to IRC... \n"), std::string::npos);
}

TEST(Startup, ForegroundKeepsLoggingOnStderrWhateverTheFileSays) {
    TempDir dir;
    const std::string config = dir.write(
        "brivox.conf", "logfile = " + dir.file("brivox.log") + "\npidfile = " + dir.file("x/p") + "\n" + kNoServer);
    ProcessRunner brivox;
    EXPECT_EQ(runBrivoxToEnd(brivox, {"-d", "-c", config}), 2);
    EXPECT_NE(brivox.stderrText().find("Unable to write pidfile"), std::string::npos);
    EXPECT_EQ(readFile(dir.file("brivox.log")), "");
}

// Started with standard input and error closed, the log file must not take
// their place, or daemon() would point it at /dev/null.
TEST(Startup, BackgroundLogsToTheFileGivenWithDashLAndWritesTheDaemonsPid) {
    TempDir dir;
    const std::string config = dir.write("brivox.conf", "pidfile = " + dir.file("brivox.pid") + "\n" + kNoServer);
    const std::string log = dir.file("brivox.log");
    ProcessRunner shell;
    shell.start("/bin/sh", {"-c", "exec \"$0\" \"$@\" <&- 2>&-", brivoxBinary(), "-c", config, "-l", log});
    ASSERT_EQ(shell.waitExit(), 0);
    ASSERT_TRUE(eventually([&] { return !readFile(dir.file("brivox.pid")).empty(); }));
    const std::string pid = readFile(dir.file("brivox.pid"));
    EXPECT_NE(pid, std::to_string(shell.pid()) + "\n");
    EXPECT_EQ(pid.back(), '\n');
    EXPECT_TRUE(eventually([&] { return readFile(log).find("cann't connect") != std::string::npos; }))
        << readFile(log);
}

TEST(Startup, BackgroundReportsAnUnopenableLogFileOnTheTerminal) {
    TempDir dir;
    const std::string config =
        dir.write("brivox.conf", "logfile = " + dir.file("no/dir/brivox.log") + "\n" + kNoServer);
    ProcessRunner brivox;
    EXPECT_EQ(runBrivoxToEnd(brivox, {"-c", config}), 0);
    EXPECT_NE(brivox.stderrText().find("Unable to initalize logging\n"), std::string::npos);
}

TEST(Pidfile, AFileThatOpensButCannotBeWrittenIsAFailure) {
    EXPECT_FALSE(writePidfile("/dev/full"));
    TempDir dir;
    EXPECT_TRUE(writePidfile(dir.file("ok.pid")));
    EXPECT_EQ(readFile(dir.file("ok.pid")), std::to_string(getpid()) + "\n");
}
