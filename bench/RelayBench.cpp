// Relayed lines per second and one-way latency in each direction, brivox
// side by side with a plain byte forwarder between the same two fast
// scripted peers; then the daemon's processor time while quiet, and its
// resident memory at idle (beside a trivial C++ program's) and once a
// million relayed lines each way have drained. Last, the same figures with
// TLS on the IRC side (socat ends it in front of the scripted server),
// beside the plain ones. "--brief" runs it with few lines, as CI does, so
// that it cannot rot unseen.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "ProcessRunner.h"
#include "RelayHarness.h"
#include "ScriptedHub.h"
#include "ScriptedIrcServer.h"
#include "TestCertificates.h"
#include "TlsFront.h"

#ifndef FORWARDER_BINARY
#error "FORWARDER_BINARY must name the baseline forwarder"
#endif
#ifndef TRIVIAL_BINARY
#error "TRIVIAL_BINARY must name the trivial program"
#endif

namespace {

using Clock = std::chrono::steady_clock;
int throughputLines = 1000000;
int latencySamples = 2000;
std::chrono::seconds quietTime{10};

long long nowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// One direction: how a text goes out of one peer and how it is cut at the other.
struct Direction {
    PeerSocket* sender;
    std::string prefix;       // what the sending peer puts before the text
    std::string terminator;   // ... and after it
    PeerSocket* receiver;
    std::string receivedEnd;  // the terminator as the receiving peer sees it
};

// The two peers and the relay between them: brivox (its pacing off on both
// sides, since the scripted peers have no flood control) or the forwarder. With
// certificates, brivox reaches the IRC server through TLS.
struct Setup {
    ScriptedIrcServer irc;
    ScriptedHub hub;
    ProcessRunner relay;
    TempDir dir;
    std::unique_ptr<TlsFront> tlsFront;

    explicit Setup(bool brivox, const TestCertificates* tls = nullptr) {
        if (brivox) {
            std::string ircPort = std::to_string(irc.port());
            if (tls != nullptr) {
                tlsFront = std::make_unique<TlsFront>(irc.port(), *tls);
                ircPort = std::to_string(tlsFront->port()) + "\nirc_tls = yes";
                setenv("SSL_CERT_FILE", tls->authority().c_str(), 1);
            }
            const std::string config = dir.write("bench.conf", "irc_port = " + ircPort +
                                                                   "\ndc_port = " + std::to_string(hub.port()) +
                                                                   "\nirc_line_interval = 0\n"
                                                                   "dc_message_interval = 0\n");
            relay.start(brivoxBinary(), {"-d", "-c", config});
            irc.accept();
            irc.greet("brivox");
            hub.accept();
            HubLoginScript login;
            login.usersPresent = {"carol"};
            logInToScriptedHub(hub, relay, login);
            irc.confirmJoin("brivox");
        } else {
            relay.start(FORWARDER_BINARY, {std::to_string(irc.port()), std::to_string(hub.port())});
            irc.accept();
            hub.accept();
        }
        // brivox reframes; the forwarder passes each side's framing through.
        toHub = {&irc.socket(), ":alice!a@h PRIVMSG #chat :", "\r\n", &hub.socket(), brivox ? "|" : "\r\n"};
        toIrc = {&hub.socket(), "<carol> ", "|", &irc.socket(), brivox ? "\r\n" : "|"};
    }
    Direction toHub;
    Direction toIrc;
};

// The send time carried at the end of a received message.
long long sentAt(const std::string& message) { return std::stoll(message.substr(message.rfind(' ') + 1)); }

double linesPerSecond(const Direction& d) {
    const auto start = Clock::now();
    std::thread writer([&] {
        std::string batch;
        for (int i = 0; i < throughputLines; ++i) {
            batch += d.prefix + "line " + std::to_string(i) + " 0" + d.terminator;
            if (batch.size() > 32768) {
                d.sender->send(batch);
                batch.clear();
            }
        }
        d.sender->send(batch);
    });
    for (int i = 0; i < throughputLines; ++i)
        d.receiver->readUntil(d.receivedEnd, std::chrono::seconds(60));
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    return throughputLines / seconds;
}

// Median and 99th percentile of one-way latency in microseconds, one
// message in flight at a time.
std::pair<double, double> latency(const Direction& d) {
    std::vector<double> micros;
    for (int i = 0; i < latencySamples; ++i) {
        d.sender->send(d.prefix + "ping " + std::to_string(nowNanos()) + d.terminator);
        const std::string got = d.receiver->readUntil(d.receivedEnd, std::chrono::seconds(10));
        micros.push_back((nowNanos() - sentAt(got)) / 1000.0);
    }
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

// Processor time (user + system) of a process so far, in seconds.
double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(all.substr(all.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15)
            ticks += std::stol(field);
    return static_cast<double>(ticks) / sysconf(_SC_CLK_TCK);
}

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

struct Figures {
    double toHubRate, toIrcRate;
    double cpuMicrosPerLine;  // the relay's processor time per line, both ways
    std::pair<double, double> toHubLatency, toIrcLatency;
};

// Resident memory of a trivial C++ program built like brivox, once it runs.
long trivialProgramKiB() {
    ProcessRunner trivial;
    trivial.start(TRIVIAL_BINARY, {});
    trivial.waitForStdout("ready");
    const long kib = residentKiB(trivial.pid());
    trivial.stop();
    return kib;
}

Figures measure(Setup& setup) {
    Figures f;
    const double cpuBefore = cpuSeconds(setup.relay.pid());
    f.toHubRate = linesPerSecond(setup.toHub);
    f.toIrcRate = linesPerSecond(setup.toIrc);
    f.cpuMicrosPerLine = (cpuSeconds(setup.relay.pid()) - cpuBefore) * 1e6 / (2.0 * throughputLines);
    f.toHubLatency = latency(setup.toHub);
    f.toIrcLatency = latency(setup.toIrc);
    return f;
}

void row(const char* name, double a, double b, int decimals = 1) {
    std::printf("%-28s %14.*f %14.*f %8.2f\n", name, decimals, a, decimals, b, a / b);
}

void printSideBySide(const char* title, const char* nameA, const Figures& a, const char* nameB, const Figures& b) {
    std::printf("%-28s %14s %14s %8s\n", title, nameA, nameB, "ratio");
    row("irc->hub lines/s", a.toHubRate, b.toHubRate);
    row("hub->irc lines/s", a.toIrcRate, b.toIrcRate);
    row("cpu per line (us)", a.cpuMicrosPerLine, b.cpuMicrosPerLine, 3);
    row("irc->hub latency p50 (us)", a.toHubLatency.first, b.toHubLatency.first);
    row("irc->hub latency p99 (us)", a.toHubLatency.second, b.toHubLatency.second);
    row("hub->irc latency p50 (us)", a.toIrcLatency.first, b.toIrcLatency.first);
    row("hub->irc latency p99 (us)", a.toIrcLatency.second, b.toIrcLatency.second);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && std::string(argv[1]) == "--brief") {
        throughputLines = 20000;
        latencySamples = 200;
        quietTime = std::chrono::seconds(1);
    }
    Setup brivox(true);
    const pid_t pid = brivox.relay.pid();
    const long idleKiB = residentKiB(pid);
    const double cpuBefore = cpuSeconds(pid);
    std::this_thread::sleep_for(quietTime);
    const double quietCpu = cpuSeconds(pid) - cpuBefore;
    const Figures ours = measure(brivox);
    // What a burst leaves behind once it has drained.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long loadedKiB = residentKiB(pid);
    const long trivialKiB = trivialProgramKiB();

    Setup forwarder(false);
    const Figures base = measure(forwarder);

    printSideBySide("", "brivox", ours, "forwarder", base);
    std::printf("brivox cpu over %lld quiet s:  %.3f s\n", static_cast<long long>(quietTime.count()), quietCpu);
    std::printf("resident memory idle (KiB)   %14ld %14ld %8.2f   (brivox, trivial C++ program)\n", idleKiB,
                trivialKiB, static_cast<double>(idleKiB) / trivialKiB);
    std::printf("resident memory (KiB)        %14ld %14ld %8.2f   (after %d lines each way, idle)\n", loadedKiB,
                idleKiB, static_cast<double>(loadedKiB) / idleKiB, throughputLines);
    if (!TestCertificates::available() || !TlsFront::available()) {
        std::printf("TLS run skipped: needs the openssl command and socat\n");
        return 0;
    }
    const TestCertificates certificates;
    Setup sealed(true, &certificates);
    const long tlsIdleKiB = residentKiB(sealed.relay.pid());
    const Figures tls = measure(sealed);
    std::printf("\n");
    printSideBySide("IRC side", "TLS", tls, "plain", ours);
    row("resident memory idle (KiB)", tlsIdleKiB, idleKiB);
    return 0;
}
