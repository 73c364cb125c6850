// Runs a program (the real brivox binary, ngircd) as a child process with its
// standard output and error captured in files, and waits with deadlines.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

#include "Eventually.h"
#include "TempDir.h"

class ProcessRunner {
public:
    // Exit statuses that sanitizers use, kept apart from the daemon's 1 and 2.
    static constexpr int kAsanExitCode = 86;
    static constexpr int kUbsanExitCode = 87;

    ProcessRunner() = default;
    ~ProcessRunner();
    ProcessRunner(const ProcessRunner&) = delete;
    ProcessRunner& operator=(const ProcessRunner&) = delete;

    // For the next start: the child leads a process group of its own, and
    // signals and stop reach the whole group (a script and what it started).
    void useOwnProcessGroup() { ownGroup = true; }
    // For the next start: an environment variable for the child.
    void setEnvironment(const std::string& name, const std::string& value) { environment.emplace_back(name, value); }
    // Starts program with args (argv[0] is added), in workingDirectory when given.
    void start(const std::string& program, const std::vector<std::string>& args,
               const std::string& workingDirectory = "");
    // The exit status, or nothing when the process is still running after the
    // deadline. A process killed by a signal gives 128 + the signal.
    std::optional<int> waitExit(std::chrono::milliseconds deadline = std::chrono::seconds(10));
    bool running();
    void signal(int number);
    // SIGTERM, then SIGKILL when it does not end within a second.
    void stop();

    pid_t pid() const { return child; }
    std::string stdoutText() const;
    std::string stderrText() const;
    // Waits until stderr (stdout) holds text; false after the deadline.
    bool waitForStderr(const std::string& text, std::chrono::milliseconds deadline = std::chrono::seconds(10));
    bool waitForStdout(const std::string& text, std::chrono::milliseconds deadline = std::chrono::seconds(10));

private:
    TempDir captures;
    pid_t target() const { return ownGroup ? -child : child; }

    pid_t child = -1;
    std::optional<int> status;
    bool ownGroup = false;
    std::vector<std::pair<std::string, std::string>> environment;
};

// Path of the brivox binary under test.
std::string brivoxBinary();
// Runs brivox with args to its end and returns its status (deadline 10 s).
int runBrivoxToEnd(ProcessRunner& runner, const std::vector<std::string>& args);
// True while a process with this id exists.
bool processAlive(pid_t pid);
