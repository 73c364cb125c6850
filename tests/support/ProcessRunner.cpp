#include "ProcessRunner.h"

#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef BRIVOX_BINARY
#error "BRIVOX_BINARY must name the binary under test"
#endif

std::string brivoxBinary() { return BRIVOX_BINARY; }

ProcessRunner::~ProcessRunner() { stop(); }

void ProcessRunner::start(const std::string& program, const std::vector<std::string>& args,
                          const std::string& workingDirectory) {
    const std::string out = captures.file("stdout");
    const std::string err = captures.file("stderr");
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (auto& a : argv)
        raw.push_back(a.data());
    raw.push_back(nullptr);

    child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int nullFd = open("/dev/null", O_RDONLY);
        dup2(nullFd, 0);
        dup2(outFd, 1);
        dup2(errFd, 2);
        if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0)
            _exit(126);
        if (ownGroup)
            setpgid(0, 0);
        for (const auto& [name, value] : environment)
            setenv(name.c_str(), value.c_str(), 1);
        setenv("ASAN_OPTIONS", "exitcode=86:abort_on_error=0", 1);
        setenv("UBSAN_OPTIONS", "exitcode=87:print_stacktrace=1", 1);
        execv(program.c_str(), raw.data());
        _exit(127);
    }
    status.reset();
}

std::optional<int> ProcessRunner::waitExit(std::chrono::milliseconds deadline) {
    if (status || child <= 0)
        return status;
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        int raw = 0;
        const pid_t done = waitpid(child, &raw, WNOHANG);
        if (done == child) {
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            return status;
        }
        if (std::chrono::steady_clock::now() >= end)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool ProcessRunner::running() { return child > 0 && !waitExit(std::chrono::milliseconds(0)); }

void ProcessRunner::signal(int number) {
    if (running())
        kill(target(), number);
}

void ProcessRunner::stop() {
    if (!running())
        return;
    kill(target(), SIGTERM);
    // A group may hold a database server that takes a moment to stop.
    if (!waitExit(std::chrono::seconds(ownGroup ? 10 : 1))) {
        kill(target(), SIGKILL);
        waitExit(std::chrono::seconds(5));
    }
    if (ownGroup)
        kill(target(), SIGKILL);
}

std::string ProcessRunner::stdoutText() const { return readFile(captures.file("stdout")); }
std::string ProcessRunner::stderrText() const { return readFile(captures.file("stderr")); }

bool ProcessRunner::waitForStderr(const std::string& text, std::chrono::milliseconds deadline) {
    return eventually([&] { return stderrText().find(text) != std::string::npos; }, deadline);
}

bool ProcessRunner::waitForStdout(const std::string& text, std::chrono::milliseconds deadline) {
    return eventually([&] { return stdoutText().find(text) != std::string::npos; }, deadline);
}

int runBrivoxToEnd(ProcessRunner& runner, const std::vector<std::string>& args) {
    runner.start(brivoxBinary(), args);
    const auto status = runner.waitExit(std::chrono::seconds(10));
    if (!status)
        throw std::runtime_error("brivox did not end within 10 seconds");
    return *status;
}

bool processAlive(pid_t pid) { return pid > 0 && kill(pid, 0) == 0; }
