// A throw-away certificate authority and a server certificate it signed for
// localhost, 127.0.0.1 and ::1, made with the openssl command.
#pragma once

#include <string>

#include "TempDir.h"

class TestCertificates {
public:
    // Throws when the openssl command fails.
    TestCertificates();
    static bool available();

    std::string authority() const { return dir.file("ca.pem"); }
    std::string serverCertificate() const { return dir.file("server.pem"); }
    std::string serverKey() const { return dir.file("server.key"); }
    // The server's certificate and key in one file, as a client presents them.
    std::string certificateAndKey() const { return dir.file("both.pem"); }

private:
    TempDir dir;
};
