#include <gtest/gtest.h>

#include <cstring>
#include <sys/stat.h>

#include "LoopbackListener.h"
#include "ProcessRunner.h"
#include "TempDir.h"
#include "frame/Pidfile.h"

#include <unistd.h>

namespace {

const char kUsage[] =
    "brivox 0.1\n"
    "\n"
    "Options:\n"
    "   -h      - show this help message\n"
    "   -c file - specify path to config file\n"
    "   -l file - override path to logfile specified in config\n"
    "   -L num  - override loglevel\n"
    "   -p file - override path to pidfile specified in config\n"
    "   -d      - do not go in background, all logging goes to stderr\n"
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

TEST(Startup, BackgroundLogsToTheFileAndWritesTheDaemonsPid) {
    TempDir dir;
    const std::string config = dir.write(
        "brivox.conf", "pidfile = " + dir.file("brivox.pid") + "\nirc_server = \n");
    ProcessRunner brivox;
    ASSERT_EQ(runBrivoxToEnd(brivox, {"-c", config, "-l", dir.file("brivox.log")}), 0);
    ASSERT_TRUE(eventually([&] { return !readFile(dir.file("brivox.pid")).empty(); }));
    const std::string pid = readFile(dir.file("brivox.pid"));
    EXPECT_NE(pid, std::to_string(brivox.pid()) + "\n");
    EXPECT_EQ(pid.back(), '\n');
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
