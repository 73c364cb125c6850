#include "NgircdRunner.h"

#include <stdexcept>
#include <unistd.h>

#include "PeerSocket.h"
#include "LoopbackListener.h"

namespace {
const char kNgircd[] = "/usr/sbin/ngircd";
}  // namespace

bool NgircdRunner::available() { return access(kNgircd, X_OK) == 0; }

NgircdRunner::NgircdRunner(bool penalties, const std::string& password) : serverPort(freeLoopbackPort()) {
    dir.write("ngircd.conf",
              "[Global]\n"
              "Name = irc.brivox.test\n"
              "Info = brivox test server\n"
              "AdminInfo1 = brivox tests\nAdminInfo2 = loopback\nAdminEMail = tests@example.invalid\n"
              "Listen = 127.0.0.1\n"
              "Ports = " + std::to_string(serverPort) + "\n"
              "MotdPhrase = \"brivox test server\"\n" +
              (password.empty() ? std::string() : "Password = " + password + "\n") +
              "[Limits]\n"
              "MaxConnectionsIP = 0\n"
              "MaxNickLength = 30\n"
              "PingTimeout = 120\n" +
              std::string(penalties ? "" : "MaxPenaltyTime = 0\n") +
              "[Options]\n" 
              "PAM = no\nIdent = no\nDNS = no\n");
    start();
}

NgircdRunner::~NgircdRunner() { stop(); }

void NgircdRunner::start() {
    process.start(kNgircd, {"-n", "-f", dir.file("ngircd.conf")});
    const bool listening = eventually([&] {
        try {
            PeerSocket probe = PeerSocket::connectTo(serverPort);
            return true;
        } catch (const std::exception&) {
            return false;
        }
    });
    if (!listening)
        throw std::runtime_error("ngircd did not start: " + process.stderrText());
}

void NgircdRunner::stop() { process.stop(); }

int NgircdRunner::acceptedConnections() const {
    // In the foreground (-n) ngircd logs to standard output.
    const std::string log = process.stdoutText();
    int count = 0;
    for (std::size_t at = log.find("Accepted connection"); at != std::string::npos;
         at = log.find("Accepted connection", at + 1))
        ++count;
    return count;
}
