// A real uhub (Debian's package) on a free loopback port, with a
// configuration and an accounts file written for the test.
#pragma once

#include <string>
#include <vector>

#include "ProcessRunner.h"
#include "TempDir.h"
#include "TestCertificates.h"

struct UhubOptions {
    // Debian's flood limits for chat (5 messages in about 6 s); without
    // them uhub relays everything.
    bool debianFloodLimits = false;
    // "class nick password" lines of mod_auth_simple.
    std::vector<std::string> accounts{"reg brivox secret"};
    const TestCertificates* tls = nullptr;  // also TLS on the same port
};

class UhubRunner {
public:
    explicit UhubRunner(const UhubOptions& options = UhubOptions());
    ~UhubRunner();

    static bool available();
    int port() const { return serverPort; }
    // Starts it (again, on the same port) and waits until it listens.
    void start();
    void stop();
    std::string log() const;

private:
    TempDir dir;
    ProcessRunner process;
    int serverPort;
};
