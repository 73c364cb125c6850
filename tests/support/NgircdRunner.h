// A real ngircd on a free loopback port, with a config written for the test:
// no PAM, no ident, no DNS, no limit on connections from one address.
#pragma once

#include <string>

#include "ProcessRunner.h"
#include "TempDir.h"

class NgircdRunner {
public:
    // Starts the server and waits until it accepts connections. Without
    // penalties it handles every command at once instead of throttling each
    // client to about one command a second after a short burst.
    explicit NgircdRunner(bool penalties = true);
    ~NgircdRunner();

    static bool available();
    int port() const { return serverPort; }
    const char* serverName() const { return "irc.brivox.test"; }
    void stop();
    // Starts it again on the same port.
    void start();

private:
    TempDir dir;
    ProcessRunner process;
    int serverPort;
};
