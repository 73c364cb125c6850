// TLS in front of a scripted peer: socat takes TLS on a loopback port of
// its own and passes the plain bytes on to the peer's port.
#pragma once

#include "ProcessRunner.h"
#include "TestCertificates.h"

class TlsFront {
public:
    TlsFront(int backendPort, const TestCertificates& certificates);
    static bool available();
    int port() const { return frontPort; }

private:
    ProcessRunner process;
    int frontPort;
};
