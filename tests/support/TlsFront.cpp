#include "TlsFront.h"

#include <stdexcept>
#include <unistd.h>

#include "LoopbackListener.h"

namespace {
const char kSocat[] = "/usr/bin/socat";
}  // namespace

bool TlsFront::available() { return access(kSocat, X_OK) == 0; }

TlsFront::TlsFront(int backendPort, const TestCertificates& certificates) : frontPort(freeLoopbackPort()) {
    process.start(kSocat, {"OPENSSL-LISTEN:" + std::to_string(frontPort) +
                               ",bind=127.0.0.1,reuseaddr,fork,verify=0,cert=" + certificates.serverCertificate() +
                               ",key=" + certificates.serverKey(),
                           "TCP:127.0.0.1:" + std::to_string(backendPort)});
    // A plain probe fails socat's handshake, so it never reaches the peer.
    if (!waitUntilListening(frontPort))
        throw std::runtime_error("socat did not start: " + process.stderrText());
}
