#include "NgircdRunner.h"

#include <algorithm>
#include <stdexcept>
#include <unistd.h>

#include "PeerSocket.h"
#include "LoopbackListener.h"

namespace {
const char kNgircd[] = "/usr/sbin/ngircd";
}  // namespace

bool NgircdRunner::available() { return access(kNgircd, X_OK) == 0; }

NgircdRunner::NgircdRunner(bool penalties, const std::string& password)
    : NgircdRunner(NgircdOptions{penalties, password}) {}

NgircdRunner::NgircdRunner(const NgircdOptions& options) : serverPort(freeLoopbackPort()) {
    std::string tls;
    if (options.tls != nullptr) {
        serverTlsPort = freeLoopbackPort();
        tls = "[SSL]\nCertFile = " + options.tls->serverCertificate() + "\nKeyFile = " +
              options.tls->serverKey() + "\nPorts = " + std::to_string(serverTlsPort) + "\n";
    }
    dir.write("ngircd.conf",
              "[Global]\n"
              "Name = irc.brivox.test\n"
              "Info = brivox test server\n"
              "AdminInfo1 = brivox tests\nAdminInfo2 = loopback\nAdminEMail = tests@example.invalid\n"
              "Listen = " + std::string(options.ipv6 ? "127.0.0.1,::1" : "127.0.0.1") + "\n"
              "Ports = " + std::to_string(serverPort) + "\n"
              "MotdPhrase = \"brivox test server\"\n" +
              (options.password.empty() ? std::string() : "Password = " + options.password + "\n") +
              "[Limits]\n"
              "MaxConnectionsIP = 0\n"
              "MaxNickLength = 30\n"
              "PingTimeout = " + std::to_string(options.pingTimeout) + "\n"
              "PongTimeout = " + std::to_string(std::min(options.pingTimeout, 20)) + "\n" +
              std::string(options.penalties ? "" : "MaxPenaltyTime = 0\n") +
              "[Options]\n"
              "PAM = no\nIdent = no\nDNS = no\n" + tls);
    start();
}

NgircdRunner::~NgircdRunner() { stop(); }

void NgircdRunner::start() {
    process.start(kNgircd, {"-n", "-f", dir.file("ngircd.conf")});
    if (!waitUntilListening(serverPort))
        throw std::runtime_error("ngircd did not start: " + process.stderrText());
}

void NgircdRunner::stop() { process.stop(); }

// In the foreground (-n) ngircd logs to standard output.
std::string NgircdRunner::log() const { return process.stdoutText(); }

int NgircdRunner::acceptedConnections() const {
    const std::string log = process.stdoutText();
    int count = 0;
    for (std::size_t at = log.find("Accepted connection"); at != std::string::npos;
         at = log.find("Accepted connection", at + 1))
        ++count;
    return count;
}
