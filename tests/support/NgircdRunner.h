// A real ngircd on a free loopback port, with a config written for the test:
// no PAM, no ident, no DNS, no limit on connections from one address.
#pragma once

#include <string>

#include "ProcessRunner.h"
#include "TempDir.h"
#include "TestCertificates.h"

struct NgircdOptions {
    bool penalties = true;
    std::string password;
    bool ipv6 = false;                          // also listen on ::1
    const TestCertificates* tls = nullptr;      // also a TLS port with these
    int pingTimeout = 120;                      // s of a client's silence before the server PINGs it
};

class NgircdRunner {
public:
    explicit NgircdRunner(const NgircdOptions& options);
    // Starts the server and waits until it accepts connections. Without
    // penalties it handles every command at once instead of throttling each
    // client to about one command a second after a short burst.
    // A password, when given, is the server password every client must send.
    explicit NgircdRunner(bool penalties = true, const std::string& password = "");
    ~NgircdRunner();

    static bool available();
    int port() const { return serverPort; }
    int tlsPort() const { return serverTlsPort; }
    const char* serverName() const { return "irc.brivox.test"; }
    void stop();
    // What the server logged so far.
    std::string log() const;
    // Connections the server accepted so far, as its log counts them.
    int acceptedConnections() const;
    // Starts it again on the same port.
    void start();

private:
    TempDir dir;
    ProcessRunner process;
    int serverPort;
    int serverTlsPort = 0;
};
