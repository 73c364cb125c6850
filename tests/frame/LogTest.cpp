#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <regex>
#include <syslog.h>
#include <unistd.h>

#include "LogCapture.h"
#include "TempDir.h"
#include "frame/Log.h"
#include "frame/LogLimiter.h"


TEST(Log, LinesCarryALocalTimestampAndTheMessage) {
    LogCapture capture(11);
    logMessage(Error, "something broke");
    const std::string text = capture.text();
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d: something broke\n)")))
        << text;
}

TEST(Log, DefaultMaskWritesErrorWarningNoticeOnly) {
    LogCapture capture(11);
    logMessage(Error, "e");
    logMessage(Warning, "w");
    logMessage(Debug, "d");
    logMessage(Notice, "n");
    logMessage(Info, "i");
    logMessage(Traffic, "t");
    const std::string text = capture.text();
    EXPECT_NE(text.find(": e\n"), std::string::npos);
    EXPECT_NE(text.find(": w\n"), std::string::npos);
    EXPECT_NE(text.find(": n\n"), std::string::npos);
    EXPECT_EQ(text.find(": d\n"), std::string::npos);
    EXPECT_EQ(text.find(": i\n"), std::string::npos);
    EXPECT_EQ(text.find(": t\n"), std::string::npos);
}

TEST(Log, MaskZeroWritesNothingAndMinusOneEverything) {
    {
        LogCapture capture(0);
        logMessage(Error, "e");
        EXPECT_EQ(capture.text(), "");
    }
    LogCapture capture(-1);
    logMessage(Debug, "d");
    logMessage(Traffic, "t");
    EXPECT_NE(capture.text().find(": d\n"), std::string::npos);
    EXPECT_NE(capture.text().find(": t\n"), std::string::npos);
}

TEST(Log, TwoBitLevelIsWrittenWhenEitherBitIsInTheMask) {
    LogCapture capture(Warning);
    logMessage(3, "two bits");
    EXPECT_NE(capture.text().find("two bits"), std::string::npos);
}

TEST(Log, SystemErrorTextIsAppendedAndErrnoKept) {
    LogCapture capture(11);
    errno = ENOENT;
    logMessage(Error, "open", true);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    logMessage(Error, "zero", true);
    const std::string text = capture.text();
    EXPECT_NE(text.find(std::string("open: ") + std::strerror(ENOENT) + "\n"), std::string::npos);
    EXPECT_NE(text.find(std::string("zero: ") + std::strerror(0) + "\n"), std::string::npos);
}

// What a peer can make us log again and again: five lines a minute, then
// one line that counts the rest once the minute is over.
TEST(LogLimiter, WritesAFewLinesAMinuteAndCountsTheRest) {
    LogCapture capture(11);
    LogLimiter kicks("IRCClient: kicks of the bot");
    const auto t0 = LogLimiter::Clock::now();
    for (int i = 0; i < 1000; ++i)
        kicks.log(Warning, "Kicked " + std::to_string(i), t0 + std::chrono::milliseconds(i));
    kicks.flush(t0 + std::chrono::seconds(59));
    EXPECT_EQ(capture.count("Kicked "), 5);
    EXPECT_EQ(capture.count("more in the last"), 0);
    LogLimiter::flushAll(t0 + std::chrono::seconds(61));
    EXPECT_EQ(capture.count("IRCClient: kicks of the bot: 995 more in the last 60 s, not logged one by one"), 1);
    // The summary is given once, not again at each later flush.
    LogLimiter::flushAll(t0 + std::chrono::seconds(62));
    LogLimiter::flushAll(t0 + std::chrono::seconds(130));
    EXPECT_EQ(capture.count("more in the last"), 1);
    kicks.log(Warning, "Kicked again", t0 + std::chrono::seconds(62));
    EXPECT_EQ(capture.count("Kicked again"), 1);
}

// The sink is process-wide, so each file-sink case runs in a child process.
TEST(LogFile, AppendsToAnExistingFile) {
    TempDir dir;
    const std::string path = dir.write("brivox.log", "old line\n");
    EXPECT_EXIT(
        {
            setLogMask(11);
            if (!initLogging(false, path))
                std::_Exit(2);
            logMessage(Notice, "new line");
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    const std::string text = readFile(path);
    EXPECT_EQ(text.rfind("old line\n", 0), 0u);
    EXPECT_NE(text.find(": new line\n"), std::string::npos);
}

TEST(LogFile, UnopenableFileFailsAndStderrStaysTheSink) {
    TempDir dir;
    const std::string path = dir.file("no/such/dir/brivox.log");
    EXPECT_EXIT(
        {
            setLogMask(11);
            if (initLogging(false, path))
                std::_Exit(2);
            logMessage(Error, "still on stderr");
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "still on stderr");
}

TEST(LogFile, RenameAndSighupStartANewFile) {
    TempDir dir;
    const std::string path = dir.file("brivox.log");
    const std::string rotated = dir.file("brivox.log.0");
    EXPECT_EXIT(
        {
            setLogMask(11);
            if (!initLogging(false, path))
                std::_Exit(2);
            logMessage(Notice, "before rotation");
            std::rename(path.c_str(), rotated.c_str());
            std::raise(SIGHUP);
            logMessage(Notice, "after rotation");
            // Every later SIGHUP is handled the same way.
            std::rename(path.c_str(), (path + ".1").c_str());
            std::raise(SIGHUP);
            logMessage(Notice, "after second rotation");
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_NE(readFile(rotated).find("before rotation"), std::string::npos);
    EXPECT_EQ(readFile(rotated).find("after rotation"), std::string::npos);
    EXPECT_NE(readFile(path + ".1").find("after rotation"), std::string::npos);
    EXPECT_EQ(readFile(path + ".1").find("before rotation"), std::string::npos);
    EXPECT_NE(readFile(path).find("after second rotation"), std::string::npos);
}

TEST(LogFile, SyslogChoiceOpensNoFileAndLeavesSighupAlone) {
    TempDir dir;
    const std::string path = dir.file("unused.log");
    EXPECT_EXIT(
        {
            if (!initLogging(true, path))
                std::_Exit(2);
            logMessage(Error, "to syslog with a % sign %s %n");
            std::raise(SIGHUP);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGHUP), "");
    EXPECT_EQ(readFile(path), "");
}
